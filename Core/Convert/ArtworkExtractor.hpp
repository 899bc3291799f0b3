// The cover picture of a track: the one embedded in the source, else a picture
// file beside it, and its scaled-down JPEG form for a device profile. The
// extractor holds only the shared runner, so any number of extractions and
// scalings may run at once from any threads. Nothing here fails: a picture
// that can't be had, for whatever reason (cancellation included), is absent
// and the track is written without one.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>
#include <string_view>

#include "Core/Convert/FFmpegRunner.hpp"
#include "Core/Platform/Bytes.hpp"

namespace tarvik {

struct ArtworkExtractor {
    // Looked for beside the source, in this order.
    static constexpr std::array<std::string_view, 6> coverFileNames = {
        "cover.jpg", "folder.jpg", "Cover.jpg", "Folder.jpg", "cover.png", "front.jpg"};
    // A cover file larger than this is passed over: no card unit shows such a
    // picture, and reading it whole would cost memory for nothing.
    static constexpr std::int64_t coverFileLimit = 20 * 1024 * 1024;

    std::shared_ptr<const FFmpegRunner> runner;

    // The embedded picture as stored (JPEG or PNG as a rule, not re-encoded);
    // otherwise the first of coverFileNames in the source's folder that is a
    // regular file of at most coverFileLimit bytes, read whole (an empty file
    // gives an empty picture).
    std::optional<Bytes> extract(const std::filesystem::path& source,
                                 std::stop_token stop) const noexcept;

    // The picture as JPEG no wider than `maxPx` (never enlarged; the height
    // follows the aspect ratio, rounded to an even number). Absent for bytes
    // that are no picture.
    std::optional<Bytes> scale(const Bytes& picture, std::int64_t maxPx,
                               std::stop_token stop) const noexcept;
};

}  // namespace tarvik
