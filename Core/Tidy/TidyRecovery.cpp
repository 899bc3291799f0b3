#include "Core/Tidy/TidyRecovery.hpp"

#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>

#include "Core/Platform/InPlaceLeftover.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

std::optional<struct stat> facts(const fs::path& path) {
    struct stat found {};
    if (::lstat(path.c_str(), &found) != 0) return std::nullopt;
    return found;
}

void notice(const TidyApplier::Progress& progress, std::string text) {
    if (progress) progress({TidyEvent::Notice{std::move(text)}});
}

// findFile that takes a link on the way for no file.
std::optional<TidyApplier::Place> fileAt(const fs::path& root, const std::string& relative,
                                         const RenamedFolders& renamed) {
    try {
        return TidyApplier::findFile(root, relative, &renamed);
    } catch (const ConversionError&) {
        return std::nullopt;
    }
}

// The folders a journal made for moves that never happened: removed when
// they are empty.
void removeMadeInVain(const fs::path& root, const std::vector<TidyJournalEntry>& entries,
                      const RenamedFolders& renamed) {
    std::set<fs::path> made;
    for (const TidyJournalEntry& entry : entries) {
        if (entry.moved || entry.pending) continue;
        for (const std::string& folder : entry.made) {
            if (auto found = findFolder(root, folder, &renamed, true)) made.insert(*found);
        }
    }
    TidyApplier::removeEmptyFolders(made, root);
}

// Whether a killed run's rewrite took the song's place, by the bytes it
// announced, never by an inode number (a volume mounted again numbers its
// files anew). A song holding them is the run's write; one that doesn't
// and whose new content was taken back, or never announced, was never
// rewritten, and where it no longer holds what the run checked either,
// another program saved it since. Else the run's write was saved over
// since by another program: the entry keeps the run's content, which the
// song no longer holds. Either way the undo keeps the save and says so.
void judgeByContent(TidyJournalEntry& entry, const fs::path& song,
                    const std::set<std::string>& takenBack) {
    const std::optional<NewContent>& ours = entry.newContent;
    if (ours && ours->isIn(song)) {
        entry.sha256 = ours->sha256;
    } else if (!ours || takenBack.contains(ours->sha256)) {
        entry.tagsWritten = false;
        entry.savedSince = entry.sizeBefore && entry.sha256Before &&
                           !NewContent{*entry.sizeBefore, 0, *entry.sha256Before}.isIn(song);
    } else {
        entry.size = ours->size;
        entry.modified = ours->modified;
        entry.sha256 = ours->sha256;
    }
}

}  // namespace

void restoreStopover(const fs::path& root, const TidyJournalEntry& entry,
                     const RenamedFolders& renamed, const TidyApplier::Progress& progress) {
    if (!entry.stopover) return;
    // Apply's move leaves it beside the source, undo's beside the target;
    // the two folders are one on disk unless a folder was renamed between.
    std::set<fs::path> folders;
    for (const std::string* path : {&entry.source, &entry.target}) {
        const std::set<fs::path> found = foldersOf(root, *path, renamed);
        folders.insert(found.begin(), found.end());
    }
    for (const fs::path& folder : folders) {
        const fs::path hidden = folder / *entry.stopover;
        if (!facts(hidden)) continue;
        for (const std::string* path : {&entry.source, &entry.target}) {
            const fs::path back = folder / fs::path(*path).filename();
            try {
                TidyApplier::move(hidden, back);
                notice(progress,
                       "途中で止まった名前の変更を戻しました: " + shownPath(back.string()));
                return;
            } catch (const ConversionError&) {
            }
        }
    }
}

void settle(const fs::path& root, TidyJournalEntry& entry, const RenamedFolders& renamed,
            const TidyApplier::Progress& progress, const LeftoverEvidence& evidence) {
    restoreStopover(root, entry, renamed, progress);
    entry.size.reset();
    entry.modified.reset();
    if (entry.folder) {
        entry.moved = entry.moved && !findFolder(root, entry.source, &renamed) &&
                      findFolder(root, entry.target, &renamed);
        if (!entry.moved) entry.target = entry.source;
        entry.pending = false;
        return;
    }
    std::optional<TidyApplier::Place> file = fileAt(root, entry.source, renamed);
    bool moved = false;
    if (!file && entry.moved) {
        file = fileAt(root, entry.target, renamed);
        moved = file.has_value();
    }
    if (!file) return;  // nowhere: undo reports it
    entry.moved = moved;
    if (!moved) entry.target = entry.source;
    const std::optional<FileIdentity> now = FileIdentity::at(file->path);
    // The song as the run left it, as far as anyone can tell now: an undo
    // leaves it alone if another program saves it after this.
    if (now) {
        entry.size = now->size;
        entry.modified = now->modified;
    }
    if (entry.tagsWritten && entry.announcesContent) {
        judgeByContent(entry, file->path, evidence.takenBack);
    } else if (entry.tagsWritten && entry.inodeBefore) {
        const std::uint64_t inode = now ? now->inode : *entry.inodeBefore;
        entry.tagsWritten = inode != *entry.inodeBefore && !evidence.savesPutBack.contains(inode);
    }
    entry.pending = false;
}

std::optional<InPlaceLeftover::Held> settleInPlaceLeftover(const fs::path& leftover,
                                                           const TidyApplier::Progress& progress) {
    using Held = InPlaceLeftover::Held;
    const std::optional<Held> held = InPlaceLeftover::settle(leftover);
    if (held == Held::replaced) {
        notice(progress, "タグを書き換える前のファイルを消しました: " + leftover.string());
    } else if (held == Held::unplaced) {
        notice(progress, "書きかけのファイルを消しました: " + leftover.string());
    } else if (held == Held::putBack) {
        notice(progress, "別のプログラムが保存したファイルを元の名前に戻しました: " +
                             leftover.parent_path().string());
    }
    return held;
}

namespace {

// The folders the lines name, under their old and their new names.
std::set<fs::path> namedFolders(const fs::path& root, const std::vector<TidyJournalEntry>& lines,
                                const RenamedFolders& renamed) {
    // By folder: a journal names thousands of songs in a few hundred of them.
    std::set<std::string> named;
    for (const TidyJournalEntry& line : lines) {
        for (const std::string* path : {&line.source, &line.target}) {
            std::vector<std::string> levels = pathLevels(*path);
            if (levels.empty()) continue;
            levels.back() = "-";  // any name in the same folder
            named.insert(joinedLevels(levels, levels.size()));
        }
    }
    std::set<fs::path> folders;
    for (const std::string& path : named) {
        const std::set<fs::path> found = foldersOf(root, path, renamed);
        folders.insert(found.begin(), found.end());
    }
    return folders;
}

}  // namespace

void sweepNamed(const fs::path& root, const std::vector<TidyJournalEntry>& lines,
                const RenamedFolders& renamed, const TidyApplier::Progress& progress) {
    for (const fs::path& folder : namedFolders(root, lines, renamed)) {
        TidyApplier::sweep(folder, progress);
    }
}

bool removeEmptyJournal(const fs::path& journal, const TidyApplier::Progress& progress) {
    std::error_code error;
    if (fs::file_size(journal, error) != 0 || error || journalInUse(journal)) return false;
    if (::unlink(journal.c_str()) != 0) return false;
    notice(progress, "何も変えずに終わった整理の空の記録ファイルを消しました: " +
                         shownPath(journal.filename().string()));
    return true;
}

RenamedFolders finishInterruptedRuns(const fs::path& journalDir, const std::string& root,
                                     const TidyApplier::Progress& progress,
                                     const std::optional<fs::path>& undoing) {
    const fs::path library = root;
    std::vector<fs::path> paths;
    std::error_code error;
    for (fs::directory_iterator it(journalDir, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with("tidy-") && name.ends_with(".jsonl")) paths.push_back(it->path());
    }
    if (undoing && std::find(paths.begin(), paths.end(), *undoing) == paths.end()) {
        paths.push_back(*undoing);
    }
    std::vector<std::pair<fs::path, JournalContents>> journals;
    for (const fs::path& path : paths) {
        // A live run's journal is its own business (another version's, or
        // one in a folder this run does not lock).
        if (journalInUse(path) || removeEmptyJournal(path, progress)) continue;
        try {
            JournalContents contents = readJournal(path);
            if (text::equivalent(contents.root, root))
                journals.emplace_back(path, std::move(contents));
        } catch (const std::exception& failure) {
            notice(progress, path.filename().string() + ": " + failure.what());
        }
    }
    RenamedFolders renamed;
    for (const auto& [path, contents] : journals) renamed.add(contents.lines);
    // A tag rewrite killed between its exchange and its check may have
    // taken out a save of another program: it goes back before any change
    // is judged by what the song holds, and marks that song unwritten, as a
    // new content that never took the song's place does.
    LeftoverEvidence evidence;
    for (const auto& [path, contents] : journals) {
        for (const fs::path& folder : namedFolders(library, contents.lines, renamed)) {
            for (const std::string& name : listNames(folder)) {
                if (!name.starts_with(InPlaceLeftover::prefix)) continue;
                using Held = InPlaceLeftover::Held;
                const auto held = facts(folder / name);
                const auto ours = InPlaceLeftover::contentNamedBy(name);
                const auto settled = settleInPlaceLeftover(folder / name, progress);
                if ((settled == Held::unplaced || settled == Held::putBack) && ours) {
                    evidence.takenBack.insert(ours->sha256);
                }
                if (settled == Held::putBack && held) {
                    evidence.savesPutBack.insert(static_cast<std::uint64_t>(held->st_ino));
                }
            }
        }
    }
    // Every journal's stopovers first: a sweep would take one of another
    // journal's for a stray.
    for (auto& [path, contents] : journals) {
        const std::string name = path.filename().string();
        try {
            // A move an undo cut short is written nowhere: its file waits
            // under the stopover.
            std::vector<TidyJournalEntry*> open;
            for (TidyJournalEntry& entry : contents.entries) {
                if (entry.pending && entry.id) {
                    open.push_back(&entry);
                } else if (!entry.pending) {
                    restoreStopover(library, entry, renamed, progress);
                }
            }
            if (open.empty()) continue;
            JournalWriter journal = JournalWriter::reopen(path);
            for (TidyJournalEntry* entry : open) {
                settle(library, *entry, renamed, progress, evidence);
                if (entry->pending) continue;
                journal.append(TidyJournalCompletion{*entry->id, entry->tagsWritten, entry->moved,
                                                     entry->size, entry->modified, true,
                                                     entry->sha256, entry->savedSince}
                                   .line());
            }
            notice(progress, "中断された整理の記録を締めくくりました: " + name);
        } catch (const std::exception& failure) {
            notice(progress, name + ": " + failure.what());
        }
    }
    for (const auto& [path, contents] : journals) {
        sweepNamed(library, contents.lines, renamed, progress);
        removeMadeInVain(library, contents.entries, renamed);
    }
    return renamed;
}

void addUndoneRenames(RenamedFolders& renamed, const fs::path& journalDir,
                      const std::string& root) {
    std::error_code error;
    for (fs::directory_iterator it(journalDir, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with("tidy-") || !name.ends_with(".jsonl.undone")) continue;
        try {
            const JournalContents contents = readJournal(it->path());
            if (text::equivalent(contents.root, root)) renamed.add(contents.lines);
        } catch (const std::exception&) {
            // Its names are not known; the undo reports what it can't find.
        }
    }
}

}  // namespace tarvik
