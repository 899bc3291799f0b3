#include <algorithm>
#include <optional>
#include <utility>

#include "Core/Pipeline/ConversionRunner.hpp"
#include "Core/Platform/BoundedGroup.hpp"
#include "Core/Platform/Errors.hpp"

namespace tarvik {

TrackMeta ConversionRunner::readTagsChild(const AudioFileProbe& probe,
                                          const std::filesystem::path& file, std::stop_token stop) {
    return TrackMeta(probe.readTags(file, std::move(stop)), file);
}

std::vector<TrackMeta> ConversionRunner::readTags(const std::vector<std::filesystem::path>& files,
                                                  std::shared_ptr<const FFmpegRunner> runner,
                                                  const ProgressCallback& progress,
                                                  std::stop_token stop) {
    const AudioFileProbe probe{std::move(runner)};
    // One slot per file, so each record lands at its file's index without sorting.
    std::vector<std::optional<TrackMeta>> slots(files.size());
    using Result = std::pair<std::size_t, TrackMeta>;
    // Declared after the slots: on Cancelled the group stops its children and
    // waits for them before anything they might touch goes away.
    BoundedGroup<Result> group(tagReadWidth, stop);

    std::size_t started = 0;
    auto startNext = [&] {
        const std::size_t index = started++;
        group.spawn([&probe, &files, index](std::stop_token childStop) {
            return Result(index, readTagsChild(probe, files[index], std::move(childStop)));
        });
    };
    while (started < std::min(tagReadWidth, files.size())) startNext();

    std::size_t done = 0;
    while (std::optional<Result> result = group.next()) {
        // A stopped read gives a record from names only: never plan with it.
        if (stop.stop_requested()) throw Cancelled();
        slots[result->first] = std::move(result->second);
        ++done;
        if (progress && done % readingReportStep == 0) {
            progress(ConversionEvent::reading(static_cast<std::int64_t>(done),
                                              static_cast<std::int64_t>(files.size())));
        }
        if (started < files.size()) startNext();
    }

    std::vector<TrackMeta> records;
    records.reserve(slots.size());
    for (std::optional<TrackMeta>& slot : slots) records.push_back(std::move(*slot));
    return records;
}

}  // namespace tarvik
