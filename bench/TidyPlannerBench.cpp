// Plans synthetic libraries with the tidy planner, tag reads stubbed (the
// files are empty; their records come from their names), and prints how long
// each took, on the clock and in processor time (steadier on a busy
// machine), so that planning can be seen to grow in step with the library.
//
//   tarvik_tidyplanner_bench [files...]    (default: 10000 20000)

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "Core/Tidy/TidyPlanner.hpp"
#include "bench/BenchSupport.hpp"

namespace {

using namespace tarvik;
namespace fs = std::filesystem;

constexpr int tracksPerAlbum = 12;
constexpr int albumsPerArtist = 8;

// Artist folders of album folders of empty files; names that mix scripts and
// disagree with the tags now and then, so naming and clash checks do work.
void makeLibrary(const fs::path& root, int count) {
    for (int i = 0; i < count; ++i) {
        const int album = i / tracksPerAlbum;
        const int artist = album / albumsPerArtist;
        const fs::path folder =
            root / ((artist % 2 ? "Band " : "\u6B4C\u624B ") + std::to_string(artist)) /
            ("Album_" + std::to_string(album));
        fs::create_directories(folder);
        std::ofstream(folder / ("track " + std::to_string(i % tracksPerAlbum + 1) + ".flac"));
    }
}

// User and system time of the whole process so far.
double processorSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::optional<SourceTags> stubTags(const fs::path& file, std::stop_token) {
    const std::string album = file.parent_path().filename().string();
    const std::string artist = file.parent_path().parent_path().filename().string();
    const std::string number = file.stem().string().substr(6);
    return SourceTags{.title = "Song " + number,
                      .artist = artist,
                      .albumArtist = artist,
                      .album = album,
                      .track = number,
                      .disc = "1",
                      .date = "2024",
                      .genre = "Pop"};
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {10000, 20000};

    const bench::WorkFolder work;
    double first = 0;
    for (int size : sizes) {
        const fs::path root = work.path() / std::to_string(size);
        makeLibrary(root, size);
        TidyPlanner planner{"/nonexistent/ffmpeg", root, {}, nullptr};
        planner.readTags = stubTags;
        const bench::Clock::time_point start = bench::Clock::now();
        const double processorStart = processorSeconds();
        const TidyPlan plan = planner.plan({}, {});
        const double seconds = bench::secondsSince(start);
        const double processor = processorSeconds() - processorStart;
        if (first == 0) first = processor / size;
        std::printf(
            "%6d files: %7.3f s, processor %7.3f s (%zu items; per file %.2f times the first "
            "size's processor time)\n",
            size, seconds, processor, plan.items.size(), processor / size / first);
    }
    return 0;
}
