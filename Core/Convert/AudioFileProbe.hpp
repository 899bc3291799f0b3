// Reads the tags of an audio file in any container ffmpeg knows (FLAC, WAV,
// AIFF, MP3, M4A) by asking ffmpeg to print the global metadata as text. The
// probe shares its runner with other probes and runs; any thread may call it,
// many at once. It never fails: a file whose tags can't be read, for whatever
// reason, gives empty tags, and its track record then comes from its names.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>

#include "Core/Convert/FFmpegRunner.hpp"
#include "Core/Naming/SourceTags.hpp"

namespace tarvik {

struct AudioFileProbe {
    std::shared_ptr<const FFmpegRunner> runner;

    // A stop ends the running ffmpeg; the call then gives empty tags unless
    // ffmpeg had already finished successfully.
    SourceTags readTags(const std::filesystem::path& file, std::stop_token stop) const noexcept;

    // As readTags, but a file whose tags could not be read (ffmpeg failed or
    // was stopped, not a regular file) gives nothing rather than empty tags,
    // for callers that must not mistake it for a file without tags.
    std::optional<SourceTags> tryReadTags(const std::filesystem::path& file,
                                          std::stop_token stop) const noexcept;
};

}  // namespace tarvik
