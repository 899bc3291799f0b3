#include "Core/Tidy/TidyApplier.hpp"

#include <sys/stat.h>

#include <cerrno>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Tidy/TidyFileState.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using TagFields::Field;

constexpr std::string_view changedSincePlanning = "計画のあとでファイルが変わっています";

[[noreturn]] void badPath(const std::string& path) {
    throw ConversionError("ライブラリの外を指すパスです: " + path);
}

// The fields the item changes, with their new values (an empty one removes
// the field).
TagFields::Values changedFields(const TrackMeta& old, const TrackMeta& proposed) {
    TagFields::Values values;
    for (Field field : TagFields::allFields) {
        const std::string& value = TagFields::member(proposed, field);
        if (!text::equivalent(TagFields::member(old, field), value)) {
            values[field] = value.empty() ? std::nullopt : std::optional(value);
        }
    }
    return values;
}

// One item of the run. Changes the file as far as it can and records what
// it did in `entry`; throws ConversionError when the item fails.
class ItemRun {
public:
    ItemRun(const fs::path& root, const TidyItem& item, bool tagsOnly,
            const std::shared_ptr<const FFmpegRunner>& runner, JournalWriter& journal,
            std::set<fs::path>& emptied, std::stop_token stop)
        : root_(root),
          item_(item),
          tagsOnly_(tagsOnly),
          runner_(runner),
          journal_(journal),
          emptied_(emptied),
          stop_(std::move(stop)) {
        entry_.source = item.source;
        entry_.target = item.source;
        entry_.old = item.old;
        entry_.new_ = item.new_;
    }

    bool changed() const { return entry_.tagsWritten || entry_.moved; }

    void run() {
        const std::optional<fs::path> file = TidyApplier::inside(root_, item_.source);
        if (!file) badPath(item_.source);
        const bool wantsMove = item_.pathChange && !tagsOnly_;
        std::optional<fs::path> destination;
        if (wantsMove && !(destination = TidyApplier::inside(root_, item_.target))) {
            badPath(item_.target);
        }
        if (!TidyFileState::factsOf(*file)) throw ConversionError("ファイルが見つかりません");
        current_ = *file;

        // Encoded in advance: a line that can't be recorded stops the run
        // before the change it would record.
        TidyJournalEntry planned = entry_;
        planned.moved = wantsMove;
        if (wantsMove) planned.target = item_.target;
        planned.line();
        if (item_.tagsChange && item_.tagsEditable) writeTags(planned);
        if (wantsMove) {
            TidyApplier::ensureFolders(root_, item_.target, ignoresCase());
            TidyApplier::move(*file, *destination);
            entry_.moved = true;
            entry_.target = item_.target;
            emptied_.insert(file->parent_path());
            current_ = *destination;
        }
    }

    // The entry with the file's facts after the change, flushed to the disk.
    void record() {
        if (const auto facts = TidyFileState::factsOf(current_)) {
            entry_.size = facts->size;
            entry_.modified = facts->modified;
        }
        journal_.append(entry_.line());
    }

private:
    void writeTags(TidyJournalEntry planned) {
        const std::optional<TrackMeta> now = TidyFileState::currentRecord(current_, runner_, stop_);
        if (stop_.stop_requested()) throw Cancelled();
        if (!now || !(*now == item_.old)) throw ConversionError(std::string(changedSincePlanning));
        const TagFields::Values values = changedFields(item_.old, item_.new_);
        const TagFields::Values raw = TagFields::read(current_);
        TagFields::Values before;
        for (const auto& [field, value] : values) before[field] = raw.at(field);

        const auto facts = TidyFileState::factsOf(current_);
        planned.tagsWritten = true;
        planned.rawOld = before;
        planned.sizeBefore = facts ? std::optional(facts->size) : std::nullopt;
        planned.line();  // the old values may be what can't be recorded
        TidyFileState::rewrite(current_, values);
        entry_.tagsWritten = true;
        entry_.rawOld = before;
        entry_.sizeBefore = planned.sizeBefore;
    }

    bool ignoresCase() {
        if (!ignoresCase_) ignoresCase_ = TidyApplier::ignoresCase(root_);
        return *ignoresCase_;
    }

    const fs::path& root_;
    const TidyItem& item_;
    bool tagsOnly_;
    const std::shared_ptr<const FFmpegRunner>& runner_;
    JournalWriter& journal_;
    std::set<fs::path>& emptied_;
    std::stop_token stop_;
    TidyJournalEntry entry_;
    fs::path current_;
    std::optional<bool> ignoresCase_;
};

}  // namespace

fs::path TidyApplier::journalURL(const fs::path& journalDir) {
    return journalName(journalDir, std::chrono::system_clock::now());
}

TidyResult TidyApplier::apply(const TidyPlan& plan, const fs::path& journalDir, bool tagsOnly,
                              const Progress& progress, std::stop_token stop) const {
    const fs::path root = plan.root;
    std::vector<const TidyItem*> chosen;
    for (const TidyItem& item : plan.items) {
        if (item.status == TidyItem::Status::change && item.selected) chosen.push_back(&item);
    }
    TidyResult result;
    if (chosen.empty()) return result;
    if (!root.is_absolute()) badPath(plan.root);

    std::error_code error;
    fs::create_directories(journalDir, error);
    if (error) {
        throw ConversionError(
            fileSystemMessage("フォルダを作れません: ", journalDir.string(), error.value()));
    }
    JournalWriter journal(journalDir);
    journal.append(journalHeader(plan.root, std::chrono::system_clock::now()));
    result.journal = journal.path();

    const std::shared_ptr<const FFmpegRunner> runner =
        ffmpeg ? std::make_shared<const FFmpegRunner>(*ffmpeg) : nullptr;
    std::set<fs::path> emptied;
    const auto total = static_cast<std::int64_t>(chosen.size());
    for (std::int64_t i = 0; i < total; ++i) {
        if (stop.stop_requested()) throw Cancelled();
        const TidyItem& item = *chosen[static_cast<std::size_t>(i)];
        if (progress) progress({TidyEvent::Progress{i, total, item.new_.title}});
        ItemRun run(root, item, tagsOnly, runner, journal, emptied, stop);
        std::optional<std::string> failure;
        try {
            run.run();
        } catch (const JournalError&) {
            throw;
        } catch (const ConversionError& itemError) {
            failure = itemError.what();
        } catch (const fs::filesystem_error& itemError) {
            failure = itemError.what();
        } catch (...) {
            if (run.changed()) run.record();
            throw;
        }
        // Whatever changed is on record before anything else happens.
        if (run.changed()) run.record();
        if (failure) {
            ++result.failed;
            if (progress) progress({TidyEvent::Failed{item.source, *failure}});
        } else {
            ++result.done;
        }
    }
    removeEmptyFolders(emptied, root);
    if (progress) progress({TidyEvent::Progress{total, total, ""}});
    return result;
}

}  // namespace tarvik
