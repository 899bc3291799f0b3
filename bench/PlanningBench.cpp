// Plans a generated library of real audio files and compares the time with
// the bare tag-reading ffmpeg commands run four at a time by xargs, so that
// what the planning pass adds on top of ffmpeg itself can be seen.
//
//   tarvik_planning_bench [tracks] [rounds] [ffmpeg]
//       (defaults: 1000 tracks, 3 rounds, /usr/bin/ffmpeg)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "Core/Pipeline/ConversionRunner.hpp"
#include "Core/Platform/BoundedGroup.hpp"
#include "Core/Platform/ChildProcess.hpp"
#include "Core/Platform/Uuid.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tarvik;
using Clock = std::chrono::steady_clock;

constexpr int tracksPerAlbum = 10;
constexpr int albumsPerArtist = 5;

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

void runOrThrow(const fs::path& program, const std::vector<std::string>& arguments) {
    const ChildProcess::Result result = ChildProcess::run(program, arguments, std::nullopt, {});
    if (result.exitCode != 0) {
        throw std::runtime_error(
            program.string() +
            " failed: " + std::string(result.standardError.begin(), result.standardError.end()));
    }
}

// One-second tagged FLAC files, artist folders of album folders, made eight at a time.
void generate(const fs::path& ffmpeg, const fs::path& music, int count) {
    BoundedGroup<bool> makers(8);
    for (int i = 0; i < count; ++i) {
        const int album = i / tracksPerAlbum;
        const int artist = album / albumsPerArtist;
        const std::string track = std::to_string(i % tracksPerAlbum + 1);
        const fs::path folder =
            music / ("歌手 " + std::to_string(artist)) / ("アルバム " + std::to_string(album));
        fs::create_directories(folder);
        const fs::path file = folder / (track + " song.flac");
        makers.spawn([=](std::stop_token) {
            runOrThrow(ffmpeg, {"-nostdin",
                                "-hide_banner",
                                "-loglevel",
                                "error",
                                "-y",
                                "-f",
                                "lavfi",
                                "-i",
                                "sine=frequency=440:duration=1",
                                "-metadata",
                                "title=曲 " + std::to_string(i),
                                "-metadata",
                                "artist=歌手 " + std::to_string(artist),
                                "-metadata",
                                "album=アルバム " + std::to_string(album),
                                "-metadata",
                                "track=" + track,
                                "-metadata",
                                "date=2024",
                                "-metadata",
                                "genre=Pop",
                                file.string()});
            return true;
        });
    }
    while (makers.next()) {
    }
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double timePlanning(const fs::path& ffmpeg, const fs::path& music, std::size_t& items) {
    const ConversionRunner runner{
        ffmpeg, DeviceProfile("bench", "Bench"), music, "/nonexistent", {}, RunOptions{}, nullptr};
    const auto start = Clock::now();
    items = runner.plan(nullptr, {}).items.size();
    return secondsSince(start);
}

// The same command line the tag probe runs, through find and xargs -P 4.
double timeBareCommands(const fs::path& ffmpeg, const fs::path& music) {
    const std::string command = "find " + quoted(music.string()) +
                                " -name '*.flac' -print0 | xargs -0 -P 4 -I{} " +
                                quoted(ffmpeg.string()) +
                                " -nostdin -hide_banner -loglevel error -i {} -f ffmetadata "
                                "pipe:1 > /dev/null";
    const auto start = Clock::now();
    runOrThrow("/bin/sh", {"-c", command});
    return secondsSince(start);
}

}  // namespace

int main(int argc, char** argv) {
    const int tracks = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const fs::path ffmpeg = argc > 3 ? fs::path(argv[3]) : fs::path("/usr/bin/ffmpeg");

    const fs::path music = fs::temp_directory_path() / ("tarvik-bench-" + makeUuid());
    try {
        std::printf("generating %d one-second tracks in %s\n", tracks, music.c_str());
        generate(ffmpeg, music, tracks);

        // Rounds alternate the two so that a busy moment of the machine hits
        // both; the best of each is compared.
        double planning = 0, bare = 0;
        std::size_t items = 0;
        std::printf("%6s %12s %12s\n", "round", "planning s", "xargs -P 4 s");
        for (int round = 1; round <= rounds; ++round) {
            const double p = timePlanning(ffmpeg, music, items);
            const double b = timeBareCommands(ffmpeg, music);
            std::printf("%6d %12.3f %12.3f\n", round, p, b);
            planning = round == 1 ? p : std::min(planning, p);
            bare = round == 1 ? b : std::min(bare, b);
        }
        std::printf("best: planning %.3f s (%zu items), bare commands %.3f s, ratio %.3f\n",
                    planning, items, bare, planning / bare);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        fs::remove_all(music);
        return 1;
    }
    fs::remove_all(music);
    return 0;
}
