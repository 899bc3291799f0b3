// Test-only helpers of the tidy tests: plan items made in one line. Not part
// of the library.
#pragma once

#include <algorithm>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "Core/Tidy/TidyFileState.hpp"
#include "Core/Tidy/TidyJournal.hpp"
#include "Core/Tidy/TidyPlan.hpp"

namespace tarvik::testing {

// This test program, started again with this variable naming a saved plan,
// applies it with its journals in "j" beside the plan, prints each
// failure's reason and exits with the number of failures (the role lives in
// TidySavedMeanwhileTest.cpp).
inline constexpr const char* applyRoleVariable = "TARVIK_TEST_APPLY";

// An item moving `source` to `target` (relative to the library) with the
// same tags on both sides. Given the library folder, it is planned as the
// file now stands there (size and modification time), as the planner does.
inline TidyItem moving(const std::string& source, const std::string& target,
                       const std::optional<std::filesystem::path>& music = std::nullopt) {
    const TrackMeta meta(std::filesystem::path(target).stem().string(), "A", "A", "B", "", "", "",
                         "");
    TidyItem item{.source = source,
                  .target = target,
                  .old = meta,
                  .new_ = meta,
                  .status = TidyItem::Status::change,
                  .reason = {},
                  .pathChange = source != target};
    if (const auto facts = music ? FileIdentity::at(*music / source) : std::nullopt) {
        item.size = facts->size;
        item.modified = facts->modified;
    }
    return item;
}

// An item that gives the song at `source` in the library `music` the title
// `title` and moves it to `target`, planned as the song now stands (its
// record read as the planner reads it where a runner of ffmpeg is given).
inline TidyItem retitling(const std::filesystem::path& music, const std::string& source,
                          const std::string& target, const std::string& title,
                          const std::shared_ptr<const FFmpegRunner>& runner = nullptr) {
    TidyItem item = moving(source, target, music);
    item.old = TidyFileState::currentRecord(music / source, runner, {}).value_or(TrackMeta{});
    item.new_ = item.old;
    item.new_.title = title;
    item.tagsChange = item.tagsEditable = true;
    return item;
}

// "source: reason" of each failed event, and the text of each notice.
inline std::vector<std::string> failuresIn(const std::vector<TidyEvent>& events) {
    std::vector<std::string> found;
    for (const TidyEvent& event : events) {
        if (const auto* failed = std::get_if<TidyEvent::Failed>(&event.value)) {
            found.push_back(failed->source + ": " + failed->reason);
        }
    }
    return found;
}
inline std::vector<std::string> noticesIn(const std::vector<TidyEvent>& events) {
    std::vector<std::string> found;
    for (const TidyEvent& event : events) {
        if (const auto* notice = std::get_if<TidyEvent::Notice>(&event.value)) {
            found.push_back(notice->text);
        }
    }
    return found;
}

// The journals in `folder` ("*.jsonl"), newest first; the folder's lock
// file and undone journals are left out.
inline std::vector<std::filesystem::path> journalsIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == ".jsonl") found.push_back(entry.path());
    }
    std::sort(found.rbegin(), found.rend());
    return found;
}

}  // namespace tarvik::testing

namespace tarvik {
// A result as a failing test shows it.
inline void PrintTo(const TidyResult& result, std::ostream* out) {
    *out << "{done " << result.done << ", failed " << result.failed << ", journal "
         << (result.journal ? result.journal->filename().string() : "none") << "}";
}
}  // namespace tarvik
