// Undoing a journal: read and check it whole, judge the changes a crash cut
// short, then revert the entries from the last to the first, moving files
// back and writing their old fields. An entry counts as restored only when
// its file is back as it was; the journal is marked undone only then.

#include <algorithm>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyFileState.hpp"
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
bool holds(const fs::path& file, const TagFields::Values& values) {
    try {
        const TagFields::Values now = TagFields::read(file);
        return std::all_of(values.begin(), values.end(), [&](const auto& pair) {
            const auto found = now.find(pair.first);
            return found != now.end() && found->second == pair.second;
        });
    } catch (const ConversionError&) {
        return false;
    }
}

void checkUnchanged(const TidyJournalEntry& entry, const fs::path& file) {
    if (!entry.size && !entry.modified) return;
    const auto facts = TidyFileState::factsOf(file);
    if (!facts || (entry.size && facts->size != *entry.size) ||
        (entry.modified && facts->modified != *entry.modified)) {
        throw ConversionError("記録のあとでファイルが変わっています: " +
                              file.filename().string());
    }
}

[[noreturn]] void missing(const std::string& path) {
    throw ConversionError("ファイルが見つかりません: " + path);
}

void revertFolder(const fs::path& root, const TidyJournalEntry& entry) {
    if (!entry.moved) return;
    const std::optional<fs::path> now = findFolder(root, entry.target);
    if (!now) {
        if (findFolder(root, entry.source)) return;  // back already
        missing(entry.target);
    }
    TidyApplier::move(*now, now->parent_path() / fs::path(entry.source).filename(),
                      entry.stopover);
}

void revert(const fs::path& root, const TidyJournalEntry& entry, std::set<fs::path>& emptied) {
    if (!TidyApplier::inside(root, entry.source) || !TidyApplier::inside(root, entry.target)) {
        throw ConversionError("ライブラリの外を指すパスです: " + entry.source);
    }
    if (entry.pending) missing(entry.moved ? entry.target : entry.source);
    if (entry.folder) {
        revertFolder(root, entry);
        return;
    }
    std::optional<TidyApplier::Place> file;
    bool checked = false;
    if (entry.moved) {
        if (const auto there = TidyApplier::findFile(root, entry.target)) {
            checkUnchanged(entry, there->path);
            checked = true;
            const TidyApplier::Place folder = TidyApplier::ensureFolders(root, entry.source);
            const fs::path back = folder.path / fs::path(entry.source).filename();
            TidyApplier::move(there->path, back, entry.stopover);
            emptied.insert(there->path.parent_path());
            file = TidyApplier::Place{back, entry.source};
        } else if (!(file = TidyApplier::findFile(root, entry.source))) {
            missing(entry.target);
        }
    } else if (!(file = TidyApplier::findFile(root, entry.source))) {
        missing(entry.source);
    }
    if (!entry.tagsWritten) return;
    const TagFields::Values values = oldValues(entry);
    if (holds(file->path, values) && !checked) return;  // restored before
    if (!checked) checkUnchanged(entry, file->path);
    TidyFileState::rewrite(file->path, values, entry.sizeBefore);
}

}  // namespace

TidyResult TidyApplier::undo(const fs::path& journal, const Progress& progress,
                             std::stop_token stop) const {
    const JournalContents first = readJournal(journal);
    const fs::path root = first.root;
    if (!root.is_absolute()) throw ConversionError("記録ファイルの形式が違います");
    // Other runs on this library first: their stopovers are theirs, not
    // strays for the sweep below. This journal may gain completions (and
    // lose the lines of changes that never happened).
    finishInterruptedRuns(journal.has_parent_path() ? journal.parent_path() : fs::path("."),
                          first.root, progress);
    JournalContents contents = readJournal(journal);
    for (const std::string& text : contents.notices) {
        if (progress) progress({TidyEvent::Notice{text}});
    }
    // First what a crash cut short (an earlier undo's moves are written
    // nowhere: every stopover is looked for), then the leftovers in every
    // folder a line names.
    std::set<fs::path> touched;
    const auto touch = [&](const TidyJournalEntry& entry) {
        for (const std::string* path : {&entry.source, &entry.target}) {
            try {
                touched.insert(ensureFolders(root, *path, false).path);
            } catch (const ConversionError&) {
            }
        }
    };
    for (const TidyJournalEntry& entry : first.entries) touch(entry);
    for (TidyJournalEntry& entry : contents.entries) {
        if (entry.pending) {
            settle(root, entry, progress);
        } else {
            restoreStopover(root, entry, progress);
        }
        touch(entry);
    }
    for (const fs::path& folder : touched) sweep(folder, progress);
    std::erase_if(contents.entries, [](const TidyJournalEntry& entry) {
        return !entry.pending && !entry.tagsWritten && !entry.moved;
    });

    TidyResult result;
    std::set<fs::path> emptied;
    const auto total = static_cast<std::int64_t>(contents.entries.size());
    for (std::int64_t k = 0; k < total; ++k) {
        if (stop.stop_requested()) throw Cancelled();
        const TidyJournalEntry& entry = contents.entries[static_cast<std::size_t>(total - 1 - k)];
        if (progress) progress({TidyEvent::Progress{k, total, entry.old.title}});
        try {
            revert(root, entry, emptied);
            ++result.done;
        } catch (const ConversionError& error) {
            ++result.failed;
            if (progress) progress({TidyEvent::Failed{entry.target, error.what()}});
        } catch (const fs::filesystem_error& error) {
            ++result.failed;
            if (progress) progress({TidyEvent::Failed{entry.target, error.what()}});
        }
    }
    removeEmptyFolders(emptied, root);
    if (result.failed == 0) {
        const fs::path undone = journal.string() + ".undone";
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
