// The conversion run against the bare conversions it is made of. Generates
// 24 one-minute tracks of pink noise (tagged FLAC, four albums), plans them
// once, then alternately exports them with a run of `jobs` conversions at a
// time (default: the processor count) and runs the converter's encoding
// command line for every track by itself through xargs -P with the same
// width. Prints both wall times, their ratio and the peak memory of this
// process (the run's own, without its ffmpeg children) and of the largest
// child. The target is a ratio of at most 1.05. Each round then exports
// again onto the full card, where every track is already there, and prints
// that time: the cost of finding each track's own file (its album's
// identity) on the card.
//
//   tarvik_run_bench [tracks] [seconds] [rounds]      (defaults: 24, 60, 3)
//
// With a library instead, the whole music folder is exported and every event
// is printed as one line, followed by the wall time and the peak memory:
//
//   tarvik_run_bench --music DIR --destination DIR --profile FILE
//                    [--jobs N] [--loudness LUFS|none] [--dry-run]
//
// The re-export alone: short tracks (20 an album) are exported once into DIR,
// a folder or a mounted card that must be there and is emptied first, and the
// same plan is then run again and again onto it, every track already there.
// Prints the best and the median wall time of those runs: the cost of
// finding each album's own folder and files on the card.
//
//   tarvik_run_bench --reexport DIR [tracks] [rounds]   (defaults: 520, 21)
//
// An older card: the same short tracks are exported once into DIR/identities
// (emptied first), copied to DIR/older and there made to look written before
// files named their album (the identity frame renamed). Then the whole export,
// planning included, runs again and again onto each card in turn, every track
// already there, and so does the plan alone. Prints the median wall times on
// each card and the ratio of the whole exports, the cost of finding tracks by
// their tags and length instead of their album's identity; the target is a
// ratio within 1.1.
//
//   tarvik_run_bench --older-card DIR [tracks] [rounds]  (defaults: 100, 7)

#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "Core/Convert/FFmpegLocator.hpp"
#include "Core/Pipeline/ConversionRunner.hpp"
#include "Core/Platform/NumberFormat.hpp"
#include "Core/Profiles/ProfileStore.hpp"
#include "bench/BenchSupport.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tarvik;
using bench::Clock;
using E = ConversionEvent;

constexpr int tracksPerAlbum = 6;

// Peak resident memory in MiB of this process, or of its largest child.
double peakMiB(int who) {
    struct rusage usage {};
    ::getrusage(who, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // Linux counts KiB
}

std::string line(const E& event) {
    if (event.phaseAs<E::Phase::Scanning>()) return "phase scanning";
    if (const auto* reading = event.phaseAs<E::Phase::Reading>()) {
        return "phase reading " + std::to_string(reading->done) + "/" +
               std::to_string(reading->total);
    }
    if (event.phaseAs<E::Phase::Planning>()) return "phase planning";
    if (const auto* lookingUp = event.phaseAs<E::Phase::LookingUp>()) {
        return "phase lookingUp " + std::to_string(lookingUp->album) + "/" +
               std::to_string(lookingUp->albums) + " " + lookingUp->name;
    }
    if (event.phaseAs<E::Phase::Converting>()) return "phase converting";
    if (event.phaseAs<E::Phase::Finishing>()) return "phase finishing";
    const auto counts = [](const E::Progress& p) {
        return "done " + std::to_string(p.done) + " skipped " + std::to_string(p.skipped) +
               " failed " + std::to_string(p.failed) + " duplicates " +
               std::to_string(p.duplicates) + " total " + std::to_string(p.total) + " eta " +
               (p.etaSeconds ? std::to_string(*p.etaSeconds) + "s" : "-");
    };
    if (const auto* progress = event.as<E::Progress>()) return "progress " + counts(*progress);
    if (const auto* converted = event.trackAs<E::Track::Converted>()) {
        return "converted " + converted->path;
    }
    if (const auto* skipped = event.trackAs<E::Track::Skipped>()) return "skipped " + skipped->path;
    if (const auto* failed = event.trackAs<E::Track::Failed>()) {
        return "failed " + failed->source + ": " + failed->reason;
    }
    if (const auto* renamed = event.trackAs<E::Track::Renamed>()) {
        return "renamed " + renamed->oldMeta.toJSON().dump() + " -> " +
               renamed->newMeta.toJSON().dump();
    }
    if (const auto* notice = event.as<E::Notice>()) return "notice " + notice->text;
    if (const auto* summary = event.as<E::Summary>()) {
        return "finished " + counts(summary->progress) + (summary->stopped ? " stopped" : "") +
               (summary->cardFull ? " cardFull" : "") + " renamed " +
               std::to_string(summary->renamed) + " placed " +
               std::to_string(summary->placed.size());
    }
    return "?";
}

// Pink noise, whose spectrum makes the encoder work as hard as on music.
void generate(const fs::path& ffmpeg, const fs::path& music, int count, int seconds) {
    std::vector<bench::GeneratedTrack> tracks;
    for (int i = 0; i < count; ++i) {
        const std::string album = "アルバム " + std::to_string(i / tracksPerAlbum + 1);
        const std::string track = std::to_string(i % tracksPerAlbum + 1);
        tracks.push_back({music / "歌手" / album / (track + ".flac"),
                          "anoisesrc=color=pink:amplitude=0.3:sample_rate=44100:duration=" +
                              std::to_string(seconds),
                          {{"title", "曲 " + std::to_string(i + 1)},
                           {"artist", "歌手"},
                           {"album", album},
                           {"track", track}}});
    }
    bench::generateTracks(ffmpeg, tracks, std::max(1U, std::thread::hardware_concurrency()));
}

// The encoding command line of the converter for an MP3 profile, without
// loudness levelling, through xargs with the run's width.
double timeBareConversions(const fs::path& ffmpeg, const DeviceProfile& profile,
                           const ConversionPlan& plan, const fs::path& out, std::int64_t jobs) {
    fs::create_directories(out);
    const fs::path list = out / "list";
    {
        std::ofstream pairs(list, std::ios::binary);
        for (std::size_t i = 0; i < plan.items.size(); ++i) {
            pairs << plan.items[i].source.string() << '\0'
                  << (out / (std::to_string(i) + ".mp3")).string() << '\0';
        }
    }
    const std::string encode =
        bench::shellQuoted(ffmpeg.string()) +
        " -nostdin -hide_banner -loglevel error -y -i \"$1\" -map 0:a:0 -map_metadata -1 -vn"
        " -af anull -ar " +
        std::to_string(profile.audio.sampleRate) +
        " -ac 2 -fflags +bitexact -codec:a libmp3lame -b:a " +
        std::to_string(profile.audio.bitrate) + "k -write_xing 1 -id3v2_version 0 -f mp3 \"$2\"";
    const std::string command = "xargs -0 -n 2 -P " + std::to_string(jobs) + " < " +
                                bench::shellQuoted(list.string()) + " sh -c " +
                                bench::shellQuoted("exec " + encode) + " sh";
    const auto start = Clock::now();
    bench::runOrThrow("/bin/sh", {"-c", command});
    return bench::secondsSince(start);
}

std::vector<E> drain(ConversionRunner::Handle& handle, bool print) {
    std::vector<E> events;
    while (std::optional<E> event = handle.events.next()) {
        if (print) std::printf("%s\n", line(*event).c_str());
        events.push_back(std::move(*event));
    }
    handle.task->wait();
    return events;
}

int generated(const fs::path& ffmpeg, int tracks, int seconds, int rounds) {
    const std::int64_t jobs = std::max(1U, std::thread::hardware_concurrency());
    int status = 0;
    try {
        const bench::WorkFolder folder;
        const fs::path& work = folder.path();
        std::printf("generating %d tracks of %d s in %s\n", tracks, seconds, work.c_str());
        generate(ffmpeg, work / "music", tracks, seconds);
        ConversionRunner runner{ffmpeg,
                                DeviceProfile("bench", "Bench"),
                                work / "music",
                                work / "card",
                                {},
                                RunOptions{},
                                nullptr};
        runner.options.jobs = jobs;
        runner.options.loudnessTarget = std::nullopt;
        auto start = Clock::now();
        const ConversionPlan plan = runner.plan(nullptr, {});
        std::printf("planned %zu items in %.3f s (not part of the comparison)\n", plan.items.size(),
                    bench::secondsSince(start));

        double bestRun = 0, bestBare = 0, bestAgain = 0;
        std::printf("%6s %10s %16s %14s\n", "round", "run s", "xargs alone s", "re-export s");
        for (int round = 1; round <= rounds; ++round) {
            fs::remove_all(work / "card");
            fs::create_directory(work / "card");  // a run writes only into a folder that is there
            start = Clock::now();
            ConversionRunner::Handle handle = runner.start(plan);
            const std::vector<E> events = drain(handle, false);
            const double run = bench::secondsSince(start);
            const E::Summary& summary = *events.back().as<E::Summary>();
            if (summary.progress.done != static_cast<std::int64_t>(plan.items.size())) {
                throw std::runtime_error("the run converted " +
                                         std::to_string(summary.progress.done) + " of " +
                                         std::to_string(plan.items.size()));
            }
            start = Clock::now();
            ConversionRunner::Handle again = runner.start(plan);
            const std::vector<E> againEvents = drain(again, false);
            const double reexport = bench::secondsSince(start);
            if (againEvents.back().as<E::Summary>()->progress.skipped !=
                static_cast<std::int64_t>(plan.items.size())) {
                throw std::runtime_error("the re-export did not find every track on the card");
            }
            fs::remove_all(work / "bare");
            const double bare =
                timeBareConversions(ffmpeg, runner.profile, plan, work / "bare", jobs);
            std::printf("%6d %10.3f %16.3f %14.4f\n", round, run, bare, reexport);
            bestRun = round == 1 ? run : std::min(bestRun, run);
            bestBare = round == 1 ? bare : std::min(bestBare, bare);
            bestAgain = round == 1 ? reexport : std::min(bestAgain, reexport);
        }
        std::printf("best re-export with every track on the card: %.4f s\n", bestAgain);
        std::printf(
            "jobs %lld: best run %.3f s, best bare conversions %.3f s, ratio %.3f (%+.1f %%)\n",
            static_cast<long long>(jobs), bestRun, bestBare, bestRun / bestBare,
            (bestRun / bestBare - 1.0) * 100.0);
        std::printf("peak memory: this process %.1f MiB, largest child %.1f MiB\n",
                    peakMiB(RUSAGE_SELF), peakMiB(RUSAGE_CHILDREN));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "failed: %s\n", error.what());
        status = 1;
    }
    return status;
}

// One-second tones, 20 an album, tagged, in `music`.
void generateShortAlbums(const fs::path& ffmpeg, const fs::path& music, int tracks) {
    constexpr int perAlbum = 20;
    std::vector<bench::GeneratedTrack> generated;
    for (int i = 0; i < tracks; ++i) {
        const std::string album = "Album " + std::to_string(i / perAlbum + 1);
        const std::string track = std::to_string(i % perAlbum + 1);
        generated.push_back({music / "Artist" / album / (track + ".flac"),
                             "sine=frequency=" + std::to_string(200 + i) + ":duration=1",
                             {{"title", "Song " + track},
                              {"artist", "Artist"},
                              {"album", album},
                              {"track", track}}});
    }
    bench::generateTracks(ffmpeg, generated, std::max(1U, std::thread::hardware_concurrency()));
}

// A runner of the whole music folder onto `card`, without loudness levelling.
ConversionRunner shortRunner(const fs::path& ffmpeg, const fs::path& music, const fs::path& card) {
    ConversionRunner runner{ffmpeg, DeviceProfile("bench", "Bench"), music, card, {}, RunOptions{},
                            nullptr};
    runner.options.jobs = std::max(1U, std::thread::hardware_concurrency());
    runner.options.loudnessTarget = std::nullopt;
    return runner;
}

// Runs the export (its own planning when `plan` is nothing) and checks that
// every track was written, or that every one was already there.
double timedExport(const ConversionRunner& runner, std::optional<ConversionPlan> plan,
                   std::int64_t total, bool written) {
    const auto start = Clock::now();
    ConversionRunner::Handle handle = runner.start(std::move(plan));
    const std::vector<E> events = drain(handle, false);
    const double seconds = bench::secondsSince(start);
    const E::Progress& counts = events.back().as<E::Summary>()->progress;
    if ((written ? counts.done : counts.skipped) != total) {
        throw std::runtime_error(written ? "the first export did not write every track"
                                         : "a re-export did not find every track on the card");
    }
    return seconds;
}

void emptyFolder(const fs::path& folder) {
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) fs::remove_all(entry);
}

int reexport(const fs::path& ffmpeg, const fs::path& card, int tracks, int rounds) {
    const bench::WorkFolder folder;
    const fs::path music = folder.path() / "music";
    generateShortAlbums(ffmpeg, music, tracks);
    emptyFolder(card);

    const ConversionRunner runner = shortRunner(ffmpeg, music, card);
    const ConversionPlan plan = runner.plan(nullptr, {});
    const auto total = static_cast<std::int64_t>(plan.items.size());
    timedExport(runner, plan, total, true);
    std::vector<double> times;
    for (int round = 0; round < rounds; ++round) {
        times.push_back(timedExport(runner, plan, total, false) * 1000.0);
    }
    std::sort(times.begin(), times.end());
    std::printf("re-export of %lld tracks onto %s: best %.2f ms, median %.2f ms (%d runs)\n",
                static_cast<long long>(total), card.c_str(), times.front(), times[times.size() / 2],
                rounds);
    return 0;
}

// Every card file as written before files named their album and song: the
// frames that carry the identities are renamed, so that no reader takes them
// for ones.
void forgetAlbums(const fs::path& card) {
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(card)) {
        if (!entry.is_regular_file()) continue;
        std::fstream file(entry.path(), std::ios::in | std::ios::out | std::ios::binary);
        std::string head(4096, '\0');
        file.read(head.data(), static_cast<std::streamsize>(head.size()));
        std::size_t frame = head.find("TXXX");
        if (frame == std::string::npos) {
            throw std::runtime_error("no identity in " + entry.path().string());
        }
        file.clear();
        for (; frame != std::string::npos; frame = head.find("TXXX", frame + 4)) {
            file.seekp(static_cast<std::streamoff>(frame + 3));
            file.put('Y');
        }
    }
}

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

int olderCard(const fs::path& ffmpeg, const fs::path& folder, int tracks, int rounds) {
    const bench::WorkFolder work;
    const fs::path music = work.path() / "music";
    generateShortAlbums(ffmpeg, music, tracks);
    emptyFolder(folder);
    const fs::path identities = folder / "identities", older = folder / "older";
    fs::create_directories(identities);
    const ConversionRunner onIdentities = shortRunner(ffmpeg, music, identities);
    const ConversionRunner onOlder = shortRunner(ffmpeg, music, older);
    const ConversionPlan plan = onIdentities.plan(nullptr, {});
    const auto total = static_cast<std::int64_t>(plan.items.size());
    const double first = timedExport(onIdentities, std::nullopt, total, true);
    fs::copy(identities, older, fs::copy_options::recursive);
    forgetAlbums(older);

    // Each round: the whole export onto each card, then the plan alone (what
    // finding the tracks on the card costs without the planning around it).
    std::array<std::vector<double>, 4> times;
    std::printf("%6s %14s %14s %16s %16s\n", "round", "identities s", "older card s",
                "plan alone id. s", "plan alone old s");
    for (int round = 1; round <= rounds; ++round) {
        times[0].push_back(timedExport(onIdentities, std::nullopt, total, false));
        times[1].push_back(timedExport(onOlder, std::nullopt, total, false));
        times[2].push_back(timedExport(onIdentities, plan, total, false));
        times[3].push_back(timedExport(onOlder, plan, total, false));
        std::printf("%6d %14.3f %14.3f %16.4f %16.4f\n", round, times[0].back(), times[1].back(),
                    times[2].back(), times[3].back());
    }
    const double a = median(times[0]), b = median(times[1]);
    std::printf(
        "%lld tracks, planning included: first export %.3f s; re-export median %.3f s onto the "
        "card with identities, %.3f s onto the older card, ratio %.2f (target within 1.1); the "
        "plan alone: %.4f s and %.4f s\n",
        static_cast<long long>(total), first, a, b, b / a, median(times[2]), median(times[3]));
    return 0;
}

int library(const fs::path& ffmpeg, const std::vector<std::string>& arguments) {
    std::optional<fs::path> music, destination, profileFile;
    RunOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& name = arguments[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= arguments.size()) throw std::invalid_argument(name + " needs a value");
            return arguments[++i];
        };
        if (name == "--music") {
            music = value();
        } else if (name == "--destination") {
            destination = value();
        } else if (name == "--profile") {
            profileFile = value();
        } else if (name == "--jobs") {
            const std::optional<std::int64_t> jobs = numbers::parseInteger(value());
            if (!jobs || *jobs < 0) throw std::invalid_argument("--jobs needs a count");
            options.jobs = *jobs;
        } else if (name == "--loudness") {
            const std::string target = value();
            options.loudnessTarget = target == "none" ? std::nullopt : numbers::parseDouble(target);
            if (target != "none" && !options.loudnessTarget) {
                throw std::invalid_argument("--loudness needs LUFS or none");
            }
        } else if (name == "--dry-run") {
            options.dryRun = true;
        } else {
            throw std::invalid_argument("unknown option " + name);
        }
    }
    if (!music || !destination || !profileFile) {
        throw std::invalid_argument("--music, --destination and --profile are needed");
    }
    const ConversionRunner runner{
        ffmpeg, ProfileStore::load(*profileFile, false), *music, *destination, {}, options,
        nullptr};
    const auto start = Clock::now();
    ConversionRunner::Handle handle = runner.start(std::nullopt);
    drain(handle, true);
    std::printf(
        "wall %.3f s, jobs %lld, peak memory: this process %.1f MiB, largest child %.1f "
        "MiB\n",
        bench::secondsSince(start), static_cast<long long>(options.jobs), peakMiB(RUSAGE_SELF),
        peakMiB(RUSAGE_CHILDREN));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<fs::path> ffmpeg = FFmpegLocator::locate();
    if (!ffmpeg) {
        std::fprintf(stderr, "no ffmpeg found\n");
        return 1;
    }
    // The two re-export modes: a card folder, then counts of tracks and rounds.
    const auto count = [&](int at, int otherwise) {
        return argc > at ? std::max(1, std::atoi(argv[at])) : otherwise;
    };
    for (const auto& [mode, run, tracks, rounds] :
         {std::tuple{"--reexport", &reexport, 520, 21},
          std::tuple{"--older-card", &olderCard, 100, 7}}) {
        if (argc <= 2 || std::strcmp(argv[1], mode) != 0) continue;
        try {
            return run(*ffmpeg, argv[2], count(3, tracks), count(4, rounds));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "failed: %s\n", error.what());
            return 1;
        }
    }
    if (argc > 1 && std::strncmp(argv[1], "--", 2) == 0) {
        try {
            return library(*ffmpeg, std::vector<std::string>(argv + 1, argv + argc));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "%s\n", error.what());
            return 2;
        }
    }
    const int tracks = argc > 1 ? std::max(1, std::atoi(argv[1])) : 24;
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 60;
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    return generated(*ffmpeg, tracks, seconds, rounds);
}
