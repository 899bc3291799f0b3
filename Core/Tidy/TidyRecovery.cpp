#include "Core/Tidy/TidyRecovery.hpp"

#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Pipeline/LibraryScanner.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/Uuid.hpp"

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

std::string folded(const std::string& text) {
    return text::isValidUTF8(text) ? text::lower(text::nfc(text)) : text;
}

std::string joined(const std::vector<std::string>& parts, std::size_t count) {
    std::string path;
    for (std::size_t i = 0; i < count; ++i) path += (i == 0 ? "" : "/") + parts[i];
    return path;
}

bool below(const std::string& path, const std::string& folder) {
    return text::nfc(path).starts_with(text::nfc(folder) + "/");
}

// The audio files the library holds below `folder`, links not followed.
std::size_t audioFilesBelow(const fs::path& folder) {
    std::size_t count = 0;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        if (it->is_regular_file(error) && !it->is_symlink(error) &&
            LibraryScanner::hasAudioExtension(it->path().filename().string())) {
            ++count;
        }
    }
    return count;
}

}  // namespace

std::optional<fs::path> findFolder(const fs::path& root, const std::string& relative) {
    if (!TidyApplier::inside(root, relative)) return std::nullopt;
    const std::optional<PosixFS::Location> location = PosixFS::locate({root, 0}, relative);
    if (!location || !location->exists()) return std::nullopt;
    const auto found = facts(location->path);
    if (!found || !S_ISDIR(found->st_mode)) return std::nullopt;
    return location->path;
}

void restoreStopover(const fs::path& root, const TidyJournalEntry& entry,
                     const TidyApplier::Progress& progress) {
    if (!entry.stopover) return;
    // Apply's move leaves it beside the source, undo's beside the target;
    // the two folders are one on disk unless a folder was renamed between.
    std::set<fs::path> folders;
    for (const std::string* path : {&entry.source, &entry.target}) {
        try {
            folders.insert(TidyApplier::ensureFolders(root, *path, false).path);
        } catch (const ConversionError&) {
        }
    }
    for (const fs::path& folder : folders) {
        const fs::path hidden = folder / *entry.stopover;
        if (!facts(hidden)) continue;
        for (const std::string* path : {&entry.source, &entry.target}) {
            const fs::path back = folder / fs::path(*path).filename();
            if (facts(back)) continue;
            try {
                TidyApplier::move(hidden, back);
                notice(progress, "途中で止まった名前の変更を戻しました: " + back.string());
                return;
            } catch (const ConversionError&) {
            }
        }
    }
}

void settle(const fs::path& root, TidyJournalEntry& entry, const TidyApplier::Progress& progress) {
    restoreStopover(root, entry, progress);
    entry.size.reset();
    entry.modified.reset();
    if (entry.folder) {
        entry.moved =
            entry.moved && !findFolder(root, entry.source) && findFolder(root, entry.target);
        if (!entry.moved) entry.target = entry.source;
        entry.pending = false;
        return;
    }
    std::optional<TidyApplier::Place> file = TidyApplier::findFile(root, entry.source);
    bool moved = false;
    if (!file && entry.moved) {
        file = TidyApplier::findFile(root, entry.target);
        moved = file.has_value();
    }
    if (!file) return;  // nowhere: undo reports it
    entry.moved = moved;
    if (!moved) entry.target = entry.source;
    if (entry.tagsWritten && entry.inodeBefore) {
        const auto now = facts(file->path);
        entry.tagsWritten = now && static_cast<std::uint64_t>(now->st_ino) != *entry.inodeBefore;
    }
    entry.pending = false;
}

void finishInterruptedRuns(const fs::path& journalDir, const std::string& root,
                           const TidyApplier::Progress& progress) {
    std::error_code error;
    for (fs::directory_iterator it(journalDir, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!name.starts_with("tidy-") || !name.ends_with(".jsonl")) continue;
        try {
            JournalContents contents = readJournal(it->path());
            if (!text::equivalent(contents.root, root)) continue;
            // A move an undo cut short is written nowhere: its file waits
            // under the stopover, which no sweep may take for a stray one.
            std::vector<TidyJournalEntry*> open;
            for (TidyJournalEntry& entry : contents.entries) {
                if (entry.pending && entry.id) open.push_back(&entry);
                if (!entry.pending) restoreStopover(root, entry, progress);
            }
            if (open.empty()) continue;
            JournalWriter journal = JournalWriter::reopen(it->path());
            for (TidyJournalEntry* entry : open) {
                settle(root, *entry, progress);
                if (entry->pending) continue;
                journal.append(TidyJournalCompletion{*entry->id, entry->tagsWritten,
                                                     entry->moved, {}, {}}
                                   .line());
            }
            notice(progress, "中断された整理の記録を締めくくりました: " + name);
        } catch (const std::exception& failure) {
            notice(progress, name + ": " + failure.what());
        }
    }
}

void renameFoldersWhole(RunContext& context, const TidyPlan& plan,
                        const std::vector<const TidyItem*>& chosen,
                        std::vector<std::string>& sources) {
    // Folder (as the plan names it) -> the name the items want for it.
    std::map<std::string, std::string> wanted;
    std::set<std::string> disputed;
    for (const TidyItem* item : chosen) {
        if (!item->pathChange) continue;
        const auto from = pathLevels(item->source), to = pathLevels(item->target);
        for (std::size_t d = 0; d + 1 < from.size() && d + 1 < to.size(); ++d) {
            if (folded(from[d]) != folded(to[d])) break;
            if (text::equivalent(from[d], to[d])) continue;
            const std::string key = text::nfc(joined(from, d + 1));
            const std::string target = joined(to, d + 1);
            const auto [at, added] = wanted.emplace(key, target);
            if (!added && !text::equivalent(at->second, target)) disputed.insert(key);
        }
    }
    std::vector<std::pair<std::string, std::string>> renames;
    for (const auto& [from, to] : wanted) {
        if (disputed.contains(from)) continue;
        std::size_t inside = 0;
        bool whole = true;
        for (const TidyItem& item : plan.items) {
            if (!below(item.source, from)) continue;
            ++inside;
            whole = whole && item.selected && item.status == TidyItem::Status::change &&
                    item.pathChange;
        }
        const std::optional<fs::path> folder = findFolder(context.root, from);
        if (whole && folder && audioFilesBelow(*folder) == inside) renames.emplace_back(from, to);
    }
    // Shallow first; a deeper folder is then found under its parent's new name.
    std::sort(renames.begin(), renames.end(), [](const auto& a, const auto& b) {
        return pathLevels(a.first).size() < pathLevels(b.first).size();
    });
    for (std::size_t r = 0; r < renames.size(); ++r) {
        const auto& [from, to] = renames[r];
        const std::optional<fs::path> folder = findFolder(context.root, from);
        if (!folder) continue;
        const std::string last = PosixFS::nfc(fs::path(to).filename()).string();
        const fs::path destination = folder->parent_path() / last;
        const std::string relative =
            destination.lexically_relative(context.root).generic_string();
        const std::string source = folder->lexically_relative(context.root).generic_string();
        TidyJournalEntry entry;
        entry.source = source;
        entry.target = relative;
        entry.moved = true;
        entry.folder = true;
        entry.stopover = ".tarvik-rename-" + makeUuid();
        entry.id = context.nextId++;
        entry.pending = true;
        context.journal.append(entry.line());
        bool moved = false;
        try {
            TidyApplier::move(*folder, destination, entry.stopover);
            moved = true;
        } catch (const ConversionError& failure) {
            notice(context.progress, failure.what());
        }
        context.journal.append(TidyJournalCompletion{*entry.id, false, moved, {}, {}}.line());
        if (!moved) continue;
        const std::size_t depth = pathLevels(from).size();
        const auto rebase = [&](std::string& path) {
            if (!below(path, from)) return;
            const std::vector<std::string> parts = pathLevels(path);
            std::string rebased = relative;
            for (std::size_t i = depth; i < parts.size(); ++i) rebased += "/" + parts[i];
            path = rebased;
        };
        for (std::string& path : sources) rebase(path);
        for (std::size_t later = r + 1; later < renames.size(); ++later) {
            rebase(renames[later].first);
        }
    }
}

}  // namespace tarvik
