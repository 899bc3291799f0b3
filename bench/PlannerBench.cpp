// Plans synthetic libraries of growing size (no audio needed) and prints how
// long evening out album artists, the first pass and the final pass take, so
// that planning time can be seen to grow in step with the number of tracks.
//
//   tarvik_planner_bench [tracks...]    (default: 5000 10000 20000 40000)

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "Core/Pipeline/Planner.hpp"

namespace {

using namespace tarvik;
using Clock = std::chrono::steady_clock;

constexpr int tracksPerAlbum = 12;
constexpr int albumsPerArtist = 8;

// Names mix ASCII, accents and Japanese script, so every card-safe name
// computation does real work.
std::vector<Planner::Track> library(int count) {
    std::vector<Planner::Track> tracks;
    tracks.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const int albumNumber = i / tracksPerAlbum;
        const int artistNumber = albumNumber / albumsPerArtist;
        const std::string artist = (artistNumber % 3 == 0   ? "Art\u00EFste "
                                    : artistNumber % 3 == 1 ? "\u6B4C\u624B "
                                                            : "Band ") +
                                   std::to_string(artistNumber);
        const std::string album =
            (albumNumber % 2 == 0 ? "Album " : "\u590F\u306E\u6B4C ") + std::to_string(albumNumber);
        const std::string trackNumber = std::to_string(i % tracksPerAlbum + 1);
        // Every fourth track lacks its album-artist tag and took the track artist.
        const std::string albumArtist = i % 4 == 3 ? artist + " feat. Guest" : artist;
        const std::filesystem::path source =
            "/music/" + artist + "/" + album + "/" + trackNumber + ".flac";
        tracks.push_back({source, TrackMeta("Song " + trackNumber + " / Take", artist, albumArtist,
                                            album, trackNumber, "1", "2024", "Pop")});
    }
    return tracks;
}

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Timing {
    double unify = 0, first = 0, final = 0;
    std::size_t items = 0;
};

Timing planOnce(const DeviceProfile& profile, const std::vector<Planner::Track>& input) {
    Timing timing;
    std::vector<Planner::Track> tracks = input;
    std::vector<std::filesystem::path> sources;
    std::vector<TrackMeta> metas;
    for (const Planner::Track& track : tracks) {
        sources.push_back(track.source);
        metas.push_back(track.meta);
    }

    auto start = Clock::now();
    for (const auto& [position, meta] : Planner::unifyAlbumArtists(sources, metas)) {
        tracks[position].meta = meta;
    }
    timing.unify = millisecondsSince(start);

    const Planner planner{profile};
    start = Clock::now();
    const ConversionPlan first = planner.plan(tracks);
    timing.first = millisecondsSince(start);

    // A title correction for every tenth item, as a catalogue lookup gives.
    Planner::Corrections corrections;
    for (std::size_t i = 0; i < first.items.size(); i += 10) {
        TrackMeta corrected = first.items[i].meta;
        corrected.title += " (Remastered)";
        corrections.emplace(i, corrected);
    }
    start = Clock::now();
    const ConversionPlan final = planner.planFinal(first, corrections);
    timing.final = millisecondsSince(start);
    timing.items = final.items.size();
    return timing;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {5000, 10000, 20000, 40000};

    DeviceProfile artistAlbum("bench", "Bench");
    DeviceProfile limited("bench-limited", "Bench, 255 per folder, ASCII only");
    limited.files.layout = DeviceProfile::Files::Layout::artist;
    limited.files.maxPerFolder = 255;
    limited.files.asciiOnly = true;
    limited.tags.encoding = DeviceProfile::Tags::Encoding::shiftJIS;

    for (const DeviceProfile* profile : {&artistAlbum, &limited}) {
        std::printf("%s\n", profile->name.c_str());
        std::printf("%8s %8s %10s %10s %10s %10s %12s\n", "tracks", "items", "unify ms", "plan ms",
                    "final ms", "total ms", "us/track");
        for (int size : sizes) {
            const std::vector<Planner::Track> tracks = library(size);
            // The best of three runs, to keep the machine's noise out of it.
            Timing best;
            double bestTotal = 0;
            for (int run = 0; run < 3; ++run) {
                const Timing timing = planOnce(*profile, tracks);
                const double total = timing.unify + timing.first + timing.final;
                if (run == 0 || total < bestTotal) {
                    best = timing;
                    bestTotal = total;
                }
            }
            std::printf("%8d %8zu %10.1f %10.1f %10.1f %10.1f %12.2f\n", size, best.items,
                        best.unify, best.first, best.final, bestTotal,
                        1000.0 * bestTotal / std::max(size, 1));
        }
    }
    return 0;
}
