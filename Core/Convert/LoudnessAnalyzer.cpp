#include "Core/Convert/LoudnessAnalyzer.hpp"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/NumberFormat.hpp"
#include "Core/Platform/Regex.hpp"

namespace tarvik {
namespace {

// The first capture of `pattern` in `text` as a number. "-inf" is what the
// filter prints for silence; anything the number reader does not take whole
// ("1.2.3") gives nothing.
std::optional<double> capturedNumber(const Regex& pattern, std::string_view text) {
    std::optional<Regex::Match> match = pattern.firstMatch(text);
    if (!match || match->groups.size() < 2 || !match->groups[1]) return std::nullopt;
    return numbers::parseDouble(*match->groups[1]);
}

}  // namespace

std::optional<LoudnessAnalyzer::Measurement> LoudnessAnalyzer::measure(
    const std::filesystem::path& file, std::stop_token stop) const {
    // Debian's ffmpeg 5.1 has no "framelog=quiet"; at the default log level
    // "verbose" hides the per-frame lines as well and still prints the summary.
    // An absolute path keeps a name such as "a:b.flac" from reading as a protocol.
    // clang-format off
    const std::vector<std::string> arguments = {
        "-nostats",
        "-i", std::filesystem::absolute(file).string(),
        "-map", "0:a:0",
        "-af", "ebur128=peak=true:framelog=verbose",
        "-f", "null", "-"};
    // clang-format on
    FFmpegRunner::Output output = runner->runRaw(arguments, std::nullopt, stop);
    if (stop.stop_requested()) throw Cancelled();
    if (output.exitCode != 0) {
        throw FFmpegError(output.exitCode, "音量の測定に失敗: " + output.stderr);
    }
    return parse(output.stderr);
}

std::optional<LoudnessAnalyzer::Measurement> LoudnessAnalyzer::parse(std::string_view text) {
    static const Regex loudness(R"(I:\s+(-?[\d.]+|-inf) LUFS)");
    static const Regex peak(R"(Peak:\s+(-?[\d.]+|-inf) dBFS)");
    // A run may print more than one summary; the last one is the whole file's.
    if (std::size_t summary = text.rfind("Summary:"); summary != std::string_view::npos) {
        text.remove_prefix(summary);
    }
    std::optional<double> integrated = capturedNumber(loudness, text);
    std::optional<double> truePeak = capturedNumber(peak, text);
    if (!integrated || !truePeak) return std::nullopt;
    return Measurement{*integrated, *truePeak};
}

std::string LoudnessAnalyzer::gainFilter(const std::optional<Measurement>& measurement,
                                         double target) {
    if (!measurement) return "anull";
    const double gain =
        std::clamp(target - measurement->integratedLUFS, -maximumGainDB, maximumGainDB);
    std::string filter = "volume=" + numbers::fixed(gain, 2) + "dB";
    if (gain + measurement->truePeakDBFS > ceilingDBFS) {
        const double ceilingLinear = std::pow(10.0, ceilingDBFS / 20.0);
        filter += ",alimiter=limit=" + numbers::fixed(ceilingLinear, 4) +
                  ":level=false:attack=5:release=50";
    }
    return filter;
}

}  // namespace tarvik
