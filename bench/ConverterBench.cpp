// Converts one 3-minute track through Converter (MP3, 192 kbit/s, ID3v2.3)
// and runs the converter's ffmpeg command line by itself, alternately and
// several times each, then prints the ratio of the two wall times: what the
// converter adds (blank test, temporary folder, tagging, the copy onto the
// card under a hidden name) on top of the encoding. The target is below 1.10.
//
//   tarvik_converter_bench [runs]    (default: 5)

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Core/Convert/Converter.hpp"
#include "Core/Convert/FFmpegLocator.hpp"
#include "Core/Convert/FFmpegRunner.hpp"
#include "bench/BenchSupport.hpp"

namespace {

using namespace tarvik;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double sum(const std::vector<double>& values) {
    double total = 0;
    for (double value : values) total += value;
    return total;
}

// The real runner, keeping the last argument list it was given, so that the
// converter's own encoding run can be replayed by itself. One thread only.
class RecordingRunner : public FFmpegRunner {
public:
    using FFmpegRunner::FFmpegRunner;

    Output runRaw(const std::vector<std::string>& arguments, const std::optional<Bytes>& input,
                  std::stop_token stop) const override {
        lastArguments = arguments;
        return FFmpegRunner::runRaw(arguments, input, std::move(stop));
    }

    mutable std::vector<std::string> lastArguments;
};

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::optional<fs::path> ffmpeg = FFmpegLocator::locate();
    if (!ffmpeg) {
        std::fprintf(stderr, "no ffmpeg found\n");
        return 1;
    }
    int status = 0;
    try {
        const bench::WorkFolder folder;
        const fs::path& work = folder.path();
        auto runner = std::make_shared<RecordingRunner>(*ffmpeg);
        // Pink noise: a spectrum closer to music than a tone, so the encoder
        // works as hard as it does on a real track.
        const fs::path source = work / "source.flac";
        runner->run({"-loglevel", "error", "-y", "-f", "lavfi", "-i",
                     "anoisesrc=color=pink:amplitude=0.3:sample_rate=44100:duration=180", "-ac",
                     "2", source.string()},
                    std::nullopt, {});

        DeviceProfile profile("bench", "bench");  // MP3, 192 kbit/s, 44100 Hz, ID3v2.3 UTF-16
        Converter converter(runner, profile);
        const TrackMeta meta{"曲名", "歌手", "歌手", "アルバム", "1", "1", "2024", "Pop"};
        std::vector<double> converted;
        std::vector<double> bare;
        for (int run = 0; run < runs; ++run) {
            Clock::time_point start = Clock::now();
            converter.convert(
                {source, work / "card" / "MUSIC" / "歌手" / "アルバム" / "01 曲名.mp3", meta}, {});
            converted.push_back(seconds(Clock::now() - start));

            // The same command line, writing where the converter's folder no longer is.
            std::vector<std::string> alone = runner->lastArguments;
            alone.back() = (work / "bare.mp3").string();
            start = Clock::now();
            runner->run(alone, std::nullopt, {});
            bare.push_back(seconds(Clock::now() - start));
            std::printf("run %d: converter %.3f s, ffmpeg alone %.3f s\n", run + 1,
                        converted.back(), bare.back());
        }
        const double ratio = sum(converted) / sum(bare);
        std::printf("median: converter %.3f s, ffmpeg alone %.3f s\n", median(converted),
                    median(bare));
        std::printf("ratio of total wall times (converter / ffmpeg alone): %.3f (%+.1f %%)\n",
                    ratio, (ratio - 1.0) * 100.0);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "failed: %s\n", error.what());
        status = 1;
    }
    return status;
}
