// Undoing a journal: read and check it whole, then revert its entries from
// the last to the first, moving files back and writing their old fields.

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyFileState.hpp"

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

void revert(const fs::path& root, const TidyJournalEntry& entry, std::set<fs::path>& emptied,
            bool& ignoresCase, bool& probed) {
    const std::optional<fs::path> source = TidyApplier::inside(root, entry.source);
    const std::optional<fs::path> target = TidyApplier::inside(root, entry.target);
    if (!source || !target) {
        throw ConversionError("ライブラリの外を指すパスです: " +
                              (source ? entry.target : entry.source));
    }
    fs::path current = entry.moved ? *target : *source;
    if (entry.size || entry.modified) {
        const auto facts = TidyFileState::factsOf(current);
        if (!facts || (entry.size && facts->size != *entry.size) ||
            (entry.modified && facts->modified != *entry.modified)) {
            throw ConversionError("記録のあとでファイルが変わっています: " +
                                  current.filename().string());
        }
    }
    if (entry.moved) {
        if (!probed) {
            ignoresCase = TidyApplier::ignoresCase(root);
            probed = true;
        }
        TidyApplier::ensureFolders(root, entry.source, ignoresCase);
        TidyApplier::move(current, *source);
        emptied.insert(current.parent_path());
        current = *source;
    }
    if (entry.tagsWritten) TidyFileState::rewrite(current, oldValues(entry), entry.sizeBefore);
}

}  // namespace

TidyResult TidyApplier::undo(const fs::path& journal, const Progress& progress,
                             std::stop_token stop) const {
    const JournalContents contents = readJournal(journal);
    const fs::path root = contents.root;
    if (!root.is_absolute()) throw ConversionError("記録ファイルの形式が違います");

    TidyResult result;
    std::set<fs::path> emptied;
    bool ignoresCase = false, probed = false;
    const auto total = static_cast<std::int64_t>(contents.entries.size());
    for (std::int64_t k = 0; k < total; ++k) {
        if (stop.stop_requested()) throw Cancelled();
        const TidyJournalEntry& entry = contents.entries[static_cast<std::size_t>(total - 1 - k)];
        if (progress) progress({TidyEvent::Progress{k, total, entry.old.title}});
        try {
            revert(root, entry, emptied, ignoresCase, probed);
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
