// Measures the integrated loudness and true peak of a source with ffmpeg's
// EBU R128 filter, and turns a measurement into the audio filter that brings
// the track to a target loudness without pushing its peak past -1 dBFS. The
// analyser holds only the shared runner, so any number of measurements may run
// at once from any threads. A failed measuring run throws; a summary that
// can't be read is no error, it gives no measurement and the track no gain.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "Core/Convert/FFmpegRunner.hpp"

namespace tarvik {

struct LoudnessAnalyzer {
    struct Measurement {
        double integratedLUFS = 0;  // may be minus infinity (silence)
        double truePeakDBFS = 0;    // may be minus infinity

        bool operator==(const Measurement&) const = default;
    };

    // The highest true peak allowed after the gain.
    static constexpr double ceilingDBFS = -1.0;
    // The gain never goes further than this either way.
    static constexpr double maximumGainDB = 20.0;

    std::shared_ptr<const FFmpegRunner> runner;

    // Measures the first audio stream of `file`. Absent when ffmpeg succeeded
    // but printed no readable summary. Throws what the runner throws (Cancelled
    // when stopped before the start), Cancelled when stopped during the run,
    // and FFmpegError, its text prefixed "音量の測定に失敗: ", when ffmpeg fails.
    std::optional<Measurement> measure(const std::filesystem::path& file,
                                       std::stop_token stop) const;

    // Reads the values after the last "Summary:" of the measuring run's
    // standard error (the whole text when there is none).
    static std::optional<Measurement> parse(std::string_view text);

    // "anull" without a measurement; otherwise "volume=<gain>dB", followed by a
    // limiter at the ceiling when the raised peak would pass it. Numbers are
    // written with "." whatever the process locale.
    static std::string gainFilter(const std::optional<Measurement>& measurement, double target);
};

}  // namespace tarvik
