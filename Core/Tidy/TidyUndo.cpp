// Undoing a journal: read and check it whole, judge the changes a crash cut
// short, then revert the entries from the last to the first, moving files
// back and writing their old fields, and folders renamed as a whole back to
// their old names. A path is looked for under every name the
// journals, undone ones too, gave its folders, so an undo finishes what an
// earlier one (cut short, or on a full disk) could not, and journals of two
// runs on one folder are undone in either order. A song is given back only
// while it holds the bytes the run left in it, known by the digest the
// journal holds: another program's save is kept and failed as changed since
// it was recorded, whatever size and time it kept. An entry counts as
// restored only when its file is back as it was; the journal is marked
// undone only then.

#include <algorithm>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/FileStreams.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyFileState.hpp"
#include "Core/Tidy/TidyLock.hpp"
#include "Core/Tidy/TidyRecovery.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

// What the entry's tags were before: exactly as recorded, or, for a journal
// without the file's own values, the record's fields that the entry changed.
TagFields::Values oldValues(const TidyJournalEntry& entry) {
    if (entry.rawOld) return *entry.rawOld;
    TagFields::Values values;
    for (TagFields::Field field : TagFields::allFields) {
        const std::string& before = TagFields::member(entry.old, field);
        if (!text::equivalent(before, TagFields::member(entry.new_, field))) {
            values[field] = before.empty() ? std::nullopt : std::optional(before);
        }
    }
    return values;
}

// Whether the file holds these values already (an earlier undo got so far).
// A journal keeps a value as read or, from a snapshot, as its frame's bytes.
bool holds(const fs::path& file, const TagFields::Values& values) {
    try {
        const TagFields::Values exact = TagFields::snapshot(file).values;
        const auto has = [](const TagFields::Values& in, const auto& pair) {
            const auto found = in.find(pair.first);
            return found != in.end() && found->second == pair.second;
        };
        if (std::all_of(values.begin(), values.end(),
                        [&](const auto& pair) { return has(exact, pair); })) {
            return true;
        }
        // Values as read gives them (an older journal's) are looked for only
        // where the exact ones are not all there.
        const TagFields::Values read = TagFields::read(file);
        return std::all_of(values.begin(), values.end(),
                           [&](const auto& pair) { return has(read, pair) || has(exact, pair); });
    } catch (const ConversionError&) {
        return false;
    }
}

// Whether an earlier undo gave the song back already: it holds the bytes
// the run found, where the journal knows their digest. Its fields alone
// tell too little: a run that only cleared a field changed a trailer or a
// container no field shows. A journal of an older version knows no digest.
bool restoredBefore(const TidyJournalEntry& entry, const fs::path& file) {
    if (entry.sizeBefore && entry.sha256Before) {
        return NewContent{*entry.sizeBefore, 0, *entry.sha256Before}.isIn(file);
    }
    return holds(file, oldValues(entry));
}

[[noreturn]] void changedSinceRecorded(const fs::path& file) {
    throw ConversionError("記録のあとでファイルが変わっています: " +
                          shownPath(file.filename().string()));
}

// The content the song must hold for the undo to give it back: what the
// run wrote into it, or, where it wrote nothing, the song as the run
// checked it; where a run judged the song after a crash, what it found.
// Nothing for a journal of an older version, which knows no digest.
std::optional<NewContent> recordedContent(const TidyJournalEntry& entry) {
    if (entry.sha256) {
        if (!entry.size) return std::nullopt;
        return NewContent{*entry.size, 0, *entry.sha256};
    }
    if (entry.tagsWritten) return entry.newContent;
    if (entry.sizeBefore && entry.sha256Before) {
        return NewContent{*entry.sizeBefore, 0, *entry.sha256Before};
    }
    return std::nullopt;
}

// The file as it is now, checked against what the entry recorded after the
// change: what its rewrite compares, also after a move (a rename keeps it).
// By its bytes wherever the journal has their digest: another program may
// save a song within its tag's room and keep its time. A size or a time
// that differs from the one recorded tells at once, except where a run
// judged the song after a crash: a volume mounted again may tell its time
// otherwise then.
std::optional<FileIdentity> checkUnchanged(const TidyJournalEntry& entry, const fs::path& file) {
    const auto facts = FileIdentity::at(file);
    const bool sameFacts = facts && (!entry.size || facts->size == *entry.size) &&
                           (entry.sha256 || !entry.modified || facts->modified == *entry.modified);
    bool same = true;
    if (const std::optional<NewContent> content = recordedContent(entry)) {
        same = sameFacts && facts->size == content->size && content->isIn(file);
    } else if (entry.sha256) {
        same = false;  // a digest without its size: nothing is known to match
    } else if (entry.size || entry.modified) {
        same = sameFacts;
    }
    if (!same) changedSinceRecorded(file);
    if (!facts) return std::nullopt;
    return *facts;
}

[[noreturn]] void missing(const std::string& path) {
    throw ConversionError("ファイルが見つかりません: " + shownPath(path));
}

class Undo {
public:
    Undo(const fs::path& root, const RenamedFolders& renamed) : root_(root), renamed_(renamed) {}

    void revert(const TidyJournalEntry& entry) const {
        TidyApplier::checkPath(root_, entry.source);
        TidyApplier::checkPath(root_, entry.target);
        if (entry.pending) missing(entry.moved ? entry.target : entry.source);
        // Never written by the run: nothing to give back, and the save stays.
        if (entry.savedSince) changedSinceRecorded(entry.source);
        if (entry.folder) return revertFolder(entry);
        std::optional<TidyApplier::Place> file;
        bool checked = false;
        std::optional<FileIdentity> seen;
        if (entry.moved) {
            if (const auto there = TidyApplier::findFile(root_, entry.target, &renamed_)) {
                seen = checkUnchanged(entry, there->path);
                checked = true;
                const TidyApplier::Place folder = TidyApplier::ensureFolders(
                    root_, entry.source, true, TidyApplier::NewName::asSpelled);
                const fs::path back = folder.path / fs::path(entry.source).filename();
                TidyApplier::move(there->path, back, entry.stopover);
                file = TidyApplier::Place{back, entry.source};
            } else if (!(file = TidyApplier::findFile(root_, entry.source, &renamed_))) {
                missing(entry.target);
            }
        } else if (!(file = TidyApplier::findFile(root_, entry.source, &renamed_))) {
            missing(entry.source);
        }
        if (!entry.tagsWritten) return;
        const TagFields::Values values = oldValues(entry);
        if (!checked && restoredBefore(entry, file->path)) return;
        if (!checked) seen = checkUnchanged(entry, file->path);
        try {
            TidyFileState::rewrite(file->path, values, TidyFileState::before(entry), seen);
        } catch (const FileChangedMeanwhile&) {
            changedSinceRecorded(file->path);
        }
    }

    // The folders the files of the journal were moved into: emptied ones go
    // with their emptied parents, whether this undo or an earlier one (cut
    // short before it could remove them) took the files out.
    std::set<fs::path> leftFolders(const std::vector<TidyJournalEntry>& lines) const {
        std::set<fs::path> folders;
        for (const TidyJournalEntry& line : lines) {
            if (line.folder || !line.moved) continue;
            // The deepest that is still there: an earlier undo may have
            // removed the folder but not yet its parent.
            std::vector<std::string> levels = pathLevels(line.target);
            for (std::set<fs::path> found; levels.size() > 1 && found.empty(); levels.pop_back()) {
                found = foldersOf(root_, joinedLevels(levels, levels.size()), renamed_);
                folders.insert(found.begin(), found.end());
            }
        }
        return folders;
    }

private:
    void revertFolder(const TidyJournalEntry& entry) const {
        if (!entry.moved) return;
        const std::optional<fs::path> now = findFolder(root_, entry.target, &renamed_);
        if (!now) {
            if (findFolder(root_, entry.source, &renamed_)) return;  // back already
            missing(entry.target);
        }
        TidyApplier::move(*now, now->parent_path() / fs::path(entry.source).filename(),
                          entry.stopover);
    }

    const fs::path& root_;
    const RenamedFolders& renamed_;
};

}  // namespace

TidyResult TidyApplier::undo(const fs::path& journal, const Progress& progress,
                             std::stop_token stop) const {
    const fs::path journalDir = journal.has_parent_path() ? journal.parent_path() : fs::path(".");
    const TidyLock lock(journalDir);
    if (journalInUse(journal)) throw ConversionError(std::string(anotherRunMessage));
    if (removeEmptyJournal(journal, progress)) return {};
    const JournalContents first = readJournal(journal);
    const fs::path root = first.root;
    if (!root.is_absolute()) throw ConversionError("記録ファイルの形式が違います");
    // Other runs on this library first: their stopovers are theirs, not
    // strays for a sweep. Then this journal as they left it: changes a
    // crash cut short are judged and completed (or dropped, when they
    // never happened), stopovers given back, leftovers swept.
    RenamedFolders renamed = finishInterruptedRuns(journalDir, first.root, progress, journal);
    const JournalContents contents = readJournal(journal);
    renamed.add(contents.lines);
    addUndoneRenames(renamed, journalDir, first.root);
    for (const std::string& text : contents.notices) {
        if (progress) progress({TidyEvent::Notice{text}});
    }

    TidyResult result;
    const Undo undo(root, renamed);
    // Last to first: an apply journals the folders it renames whole before
    // any file, so what is inside a folder is restored before the folder
    // gets its old name back.
    const auto total = static_cast<std::int64_t>(contents.entries.size());
    for (std::int64_t k = 0; k < total; ++k) {
        if (stop.stop_requested()) throw Cancelled();
        const TidyJournalEntry& entry = contents.entries[static_cast<std::size_t>(total - 1 - k)];
        if (progress) progress({TidyEvent::Progress{k, total, entry.old.title}});
        try {
            undo.revert(entry);
            ++result.done;
        } catch (const ConversionError& error) {
            ++result.failed;
            if (progress) progress({TidyEvent::Failed{entry.target, error.what()}});
        } catch (const fs::filesystem_error& error) {
            ++result.failed;
            if (progress) progress({TidyEvent::Failed{entry.target, error.what()}});
        }
    }
    removeEmptyFolders(undo.leftFolders(contents.lines), root);
    if (result.failed == 0) {
        // An older version may have given a journal of the same second the
        // name undone already: the first free name of the kind then.
        fs::path undone = undoneName(journal);
        for (int attempt = 2; !isFree(undone) && attempt < 1000; ++attempt) {
            const fs::path other = journalCandidate(journal, attempt);
            if (isFree(other)) undone = undoneName(other);
        }
        try {
            move(journal, undone);
        } catch (const ConversionError& error) {
            if (progress) {
                progress({TidyEvent::Notice{"記録ファイルの名前を変えられません: " +
                                            std::string(error.what())}});
            }
        }
    }
    return result;
}

}  // namespace tarvik
