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
#include "bench/BenchSupport.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tarvik;
using Clock = std::chrono::steady_clock;

constexpr int tracksPerAlbum = 10;
constexpr int albumsPerArtist = 5;

// One-second tagged FLAC files, artist folders of album folders, made eight at a time.
void generate(const fs::path& ffmpeg, const fs::path& music, int count) {
    std::vector<bench::GeneratedTrack> tracks;
    for (int i = 0; i < count; ++i) {
        const int album = i / tracksPerAlbum;
        const int artist = album / albumsPerArtist;
        const std::string track = std::to_string(i % tracksPerAlbum + 1);
        const std::string artistName = "歌手 " + std::to_string(artist);
        const std::string albumName = "アルバム " + std::to_string(album);
        tracks.push_back({music / artistName / albumName / (track + " song.flac"),
                          "sine=frequency=440:duration=1",
                          {{"title", "曲 " + std::to_string(i)},
                           {"artist", artistName},
                           {"album", albumName},
                           {"track", track},
                           {"date", "2024"},
                           {"genre", "Pop"}}});
    }
    bench::generateTracks(ffmpeg, tracks, 8);
}

double timePlanning(const fs::path& ffmpeg, const fs::path& music, std::size_t& items) {
    const ConversionRunner runner{
        ffmpeg, DeviceProfile("bench", "Bench"), music, "/nonexistent", {}, RunOptions{}, nullptr};
    const auto start = Clock::now();
    items = runner.plan(nullptr, {}).items.size();
    return bench::secondsSince(start);
}

// The same command line the tag probe runs, through find and xargs -P 4.
double timeBareCommands(const fs::path& ffmpeg, const fs::path& music) {
    const std::string command = "find " + bench::shellQuoted(music.string()) +
                                " -name '*.flac' -print0 | xargs -0 -P 4 -I{} " +
                                bench::shellQuoted(ffmpeg.string()) +
                                " -nostdin -hide_banner -loglevel error -i {} -f ffmetadata "
                                "pipe:1 > /dev/null";
    const auto start = Clock::now();
    bench::runOrThrow("/bin/sh", {"-c", command});
    return bench::secondsSince(start);
}

}  // namespace

int main(int argc, char** argv) {
    const int tracks = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const fs::path ffmpeg = argc > 3 ? fs::path(argv[3]) : fs::path("/usr/bin/ffmpeg");

    try {
        const bench::WorkFolder work;
        const fs::path music = work.path() / "music";
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
        return 1;
    }
    return 0;
}
