#include "Core/Tidy/TidyPlanner.hpp"

#include <algorithm>
#include <utility>

#include "Core/Catalog/TitleFixer.hpp"
#include "Core/Convert/AudioFileProbe.hpp"
#include "Core/Pipeline/LibraryScanner.hpp"
#include "Core/Platform/BoundedGroup.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik {
namespace {

using Tags = std::optional<SourceTags>;

// The tags of `files` in their order, `readingWidth` at a time, with a
// reading event after every 50th. A stop is judged by the caller: the reads
// it cut short are unreadable, not tagless.
std::vector<Tags> readAll(const std::vector<std::filesystem::path>& files,
                          const TidyPlanner::ReadTags& read, const ProgressCallback& progress,
                          std::stop_token stop) {
    std::vector<Tags> slots(files.size());
    using Result = std::pair<std::size_t, Tags>;
    // Declared after the slots: the group waits for its children before
    // anything they touch goes away.
    BoundedGroup<Result> group(TidyPlanner::readingWidth, stop);
    std::size_t started = 0;
    auto startNext = [&] {
        const std::size_t index = started++;
        group.spawn([&read, &files, index](std::stop_token childStop) {
            return Result(index, read(files[index], std::move(childStop)));
        });
    };
    while (started < std::min(TidyPlanner::readingWidth, files.size())) startNext();

    std::size_t done = 0;
    while (std::optional<Result> result = group.next()) {
        slots[result->first] = std::move(result->second);
        ++done;
        if (progress && done % TidyPlanner::readingReportStep == 0) {
            progress(ConversionEvent::reading(static_cast<std::int64_t>(done),
                                              static_cast<std::int64_t>(files.size())));
        }
        if (started < files.size()) startNext();
    }
    return slots;
}

}  // namespace

TidyPlan TidyPlanner::plan(const ProgressCallback& progress, std::stop_token stop) const {
    ReadTags read = readTags;
    if (!read) {
        read = [probe = AudioFileProbe{std::make_shared<const FFmpegRunner>(ffmpeg)}](
                   const std::filesystem::path& file, std::stop_token readStop) {
            return probe.tryReadTags(file, std::move(readStop));
        };
    }
    if (progress) progress(ConversionEvent::scanning());
    const std::vector<std::filesystem::path> files = LibraryScanner{root}.audioFiles(artists, stop);
    if (stop.stop_requested()) throw Cancelled();
    if (files.empty()) throw ConversionError("対象の曲が見つかりません。");

    const std::vector<Tags> tags = readAll(files, read, progress, stop);
    if (stop.stop_requested()) throw Cancelled();

    std::vector<TrackMeta> records;
    std::map<std::size_t, std::string> held;
    // Album groups in order of first appearance; keys compared as NFC text.
    std::vector<std::vector<std::size_t>> groups;
    std::map<std::pair<std::string, std::string>, std::size_t> groupOf;
    for (std::size_t i = 0; i < files.size(); ++i) {
        records.emplace_back(tags[i].value_or(SourceTags{}), files[i]);
        if (!tags[i]) {
            held.emplace(i, std::string(unreadableTagsReason));
            continue;
        }
        const auto key = std::pair(text::nfc(records[i].albumArtist), text::nfc(records[i].album));
        const auto [found, added] = groupOf.emplace(key, groups.size());
        if (added) groups.emplace_back();
        groups[found->second].push_back(i);
    }

    std::vector<TrackMeta> proposed = records;
    std::set<std::size_t> matched;
    for (std::size_t n = 0; n < groups.size(); ++n) {
        if (stop.stop_requested()) throw Cancelled();
        const std::vector<std::size_t>& group = groups[n];
        const TrackMeta& first = records[group.front()];
        if (progress) {
            progress(ConversionEvent::lookingUp(static_cast<std::int64_t>(n + 1),
                                                static_cast<std::int64_t>(groups.size()),
                                                first.albumArtist + " / " + first.album));
        }
        if (!catalog) continue;
        std::vector<TrackMeta> album;
        for (std::size_t index : group) album.push_back(records[index]);
        const TitleFixer::Outcome outcome = TitleFixer::fix(album, *catalog, stop);
        for (std::size_t j = 0; j < group.size() && j < outcome.metas.size(); ++j) {
            proposed[group[j]] = outcome.metas[j];
            if (outcome.matched.contains(j)) matched.insert(group[j]);
        }
    }
    // A stop during the last lookup left its album unmatched: no plan from that.
    if (stop.stop_requested()) throw Cancelled();
    return planItem(files, records, proposed, matched, held);
}

TidyPlan TidyPlanner::replan(const TidyPlan& previous) const {
    std::vector<std::filesystem::path> files;
    std::vector<TrackMeta> read;
    std::vector<TrackMeta> proposed;
    std::set<std::size_t> matched;
    std::map<std::size_t, std::string> held;
    for (std::size_t i = 0; i < previous.items.size(); ++i) {
        const TidyItem& item = previous.items[i];
        files.push_back(root / item.source);
        read.push_back(item.old);
        proposed.push_back(item.new_);
        if (previous.hasCandidate(i)) matched.insert(i);
        for (std::string_view reason :
             {unreadableTagsReason, undecodableNameReason, linkReason}) {
            if (text::equivalent(item.reason, reason)) held.emplace(i, std::string(reason));
        }
    }
    TidyPlan plan = planItem(files, read, proposed, matched, held);
    // The files as they were when first planned: a change since still counts.
    std::map<std::string, const TidyItem*> before;
    for (const TidyItem& item : previous.items) before.emplace(item.source, &item);
    for (TidyItem& item : plan.items) {
        if (const auto found = before.find(item.source); found != before.end()) {
            item.size = found->second->size;
            item.modified = found->second->modified;
        }
    }
    return plan;
}

}  // namespace tarvik
