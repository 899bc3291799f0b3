// The cover picture of every album of one run, searched once per album and
// handed, scaled, to each of the album's tracks. A run makes one cache and
// shares it between its conversions, which ask from their own threads at the
// same time; the lock guards the finished results and the searches under
// way and is never held while a search runs, so a track whose album is being
// searched waits for that search instead of starting another. Nothing here
// fails: an album without a usable picture is remembered as having none.
#pragma once

#include <cstdint>
#include <filesystem>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "Core/Convert/ArtworkExtractor.hpp"
#include "Core/Pipeline/ConversionPlan.hpp"
#include "Core/Platform/Bytes.hpp"

namespace tarvik {

class ArtworkCache {
public:
    ArtworkCache(ArtworkExtractor extractor, std::int64_t maxPx, bool enabled);

    ArtworkCache(const ArtworkCache&) = delete;
    ArtworkCache& operator=(const ArtworkCache&) = delete;

    // The JPEG for the album of `item`, or nothing. `source` is the plan's
    // item list, from which the album's files are taken in plan order. Takes
    // no stop token on purpose: a run's stop does not cut a search short,
    // since every track of the album waits for its answer; a search costs a
    // few short ffmpeg runs.
    std::optional<Bytes> artwork(const ConversionPlan::Item& item,
                                 const std::vector<ConversionPlan::Item>& source);

private:
    // Each file in turn, its embedded picture first and then the picture
    // files beside it, until one candidate scales.
    std::optional<Bytes> search(const std::vector<std::filesystem::path>& files) const;

    const ArtworkExtractor extractor_;
    const std::int64_t maxPx_;
    const bool enabled_;

    std::mutex mutex_;  // guards cache_ and inflight_
    // Finished searches by album index; an entry without bytes is final too.
    std::map<std::int64_t, std::optional<Bytes>> cache_;
    // Searches under way by album index; a key is never in both maps.
    std::map<std::int64_t, std::shared_future<std::optional<Bytes>>> inflight_;
};

}  // namespace tarvik
