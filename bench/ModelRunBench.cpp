// The application model through one whole export of many items: planning
// with a tag-reading stand-in for ffmpeg, then the run with an instant
// stand-in converter, the review skipped. A zero-interval timer on the GUI
// thread measures the longest stretch the thread was busy at once while the
// run's events poured in, in wall time and in the thread's own processor time
// (a loaded machine stretches the first). Prints the run's events per second
// and those stalls for planning and for the run; the target is a run whose GUI
// thread is never busy for 50 ms at once.
//
//   tarvik_model_run_bench [items]      (default: 20000)

#include <stdlib.h>
#include <time.h>

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "App/Model/AppModel.hpp"
#include "bench/BenchSupport.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tarvik;
using bench::Clock;

constexpr int tracksPerAlbum = 100;

// Prints the tags of the file after "-i": its name as the title, its folder as the album.
const char* const probeScript = R"sh(while [ "$#" -gt 0 ]; do
  if [ "$1" = "-i" ]; then file="$2"; fi
  shift
done
name=${file##*/}; name=${name%.*}
folder=${file%/*}; album=${folder##*/}
printf ';FFMETADATA1\ntitle=Song %s\nartist=Band\nalbum=%s\ntrack=%s\n' "$name" "$album" "$name"
)sh";

void makeLibrary(const fs::path& music, int items) {
    for (int i = 0; i < items; ++i) {
        const fs::path album = music / "Band" / ("Album " + std::to_string(i / tracksPerAlbum));
        if (i % tracksPerAlbum == 0) fs::create_directories(album);
        std::ofstream(album / (std::to_string(i % tracksPerAlbum + 1) + ".flac"));
    }
}

double threadCpuMs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// Between two ticks of a zero-interval timer the GUI thread did other work:
// the longest such gap in wall time, and the most processor time the thread
// spent in one gap. On a loaded machine the wall gap also counts the time the
// thread waited for a processor; the busy time is the thread's own work.
class StallMeter {
public:
    StallMeter() {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const auto now = Clock::now();
            const double cpu = threadCpuMs();
            longestWall_ = std::max(longestWall_, now - last_);
            longestBusy_ = std::max(longestBusy_, cpu - lastCpu_);
            last_ = now;
            lastCpu_ = cpu;
        });
    }
    void start() {
        longestWall_ = {};
        longestBusy_ = 0;
        last_ = Clock::now();
        lastCpu_ = threadCpuMs();
        timer_.start();
    }
    // The longest wall gap and the longest busy time, in milliseconds.
    std::pair<double, double> stop() {
        timer_.stop();
        return {std::chrono::duration<double, std::milli>(longestWall_).count(), longestBusy_};
    }

private:
    QTimer timer_;
    Clock::time_point last_;
    double lastCpu_ = 0;
    Clock::duration longestWall_{};
    double longestBusy_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int items = argc > 1 ? std::stoi(argv[1]) : 20000;

    // Converters of other programs remove "tarvik-" folders in the temporary
    // directory that look abandoned for a minute; planning this many items
    // takes longer, so the work folder lives one level further down.
    std::string shelter = (fs::temp_directory_path() / "model-run-bench-XXXXXX").string();
    if (::mkdtemp(shelter.data()) == nullptr) return 1;
    ::setenv("TMPDIR", shelter.c_str(), 1);
    std::optional<bench::WorkFolder> holder(std::in_place);
    const bench::WorkFolder& work = *holder;
    ::setenv("XDG_CONFIG_HOME", (work.path() / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (work.path() / "data").c_str(), 1);
    makeLibrary(work.path() / "music", items);
    fs::create_directories(work.path() / "card");
    const fs::path probe = work.path() / "ffmpeg";
    std::ofstream(probe) << "#!/bin/sh\n" << probeScript;
    fs::permissions(probe, fs::perms::owner_all);

    AppModel::Services services;
    services.settings = Settings::standard();
    services.systemLowLoad = [] { return false; };
    services.locateFFmpeg = [probe] { return std::optional<fs::path>(probe); };
    services.convert = [](const Converter::Job&, std::stop_token) {};
    AppModel model(std::move(services));
    model.setSrcPath((work.path() / "music").string());
    model.setDestPath((work.path() / "card").string());
    model.setLookup(false);
    model.setNormalize(false);
    model.setSkipReview(true);

    StallMeter meter;
    long events = 0;
    QObject::connect(&model, &AppModel::progressChanged, [&] { ++events; });
    QObject::connect(&model, &AppModel::logAppended, [&](qsizetype count) { events += count; });
    double planningSeconds = 0;
    std::pair<double, double> planningStall;
    Clock::time_point phaseStart = Clock::now();
    QObject::connect(&model, &AppModel::stateChanged, [&] {
        const RunState& state = model.state();
        if (state.is(RunState::Case::running)) {
            planningSeconds = bench::secondsSince(phaseStart);
            planningStall = meter.stop();
            events = 0;
            phaseStart = Clock::now();
            meter.start();
        } else if (!state.isBusy()) {
            QCoreApplication::quit();
        }
    });
    QTimer::singleShot(0, [&] {
        phaseStart = Clock::now();
        meter.start();
        model.startPlanning();
    });
    QCoreApplication::exec();
    const double runSeconds = bench::secondsSince(phaseStart);
    const auto runStall = meter.stop();

    holder.reset();
    fs::remove_all(shelter);
    const RunState& state = model.state();
    if (!state.is(RunState::Case::finished)) {
        std::fprintf(stderr, "the export did not finish: %s\n", state.message.c_str());
        return 1;
    }
    std::printf("items: %d, converted: %lld\n", items,
                static_cast<long long>(state.summary.progress.done));
    std::printf("planning: %.2f s, longest GUI stall %.1f ms (busy %.1f ms)\n", planningSeconds,
                planningStall.first, planningStall.second);
    std::printf(
        "run: %.2f s, %.0f events/s (progress and log lines), longest GUI stall %.1f ms "
        "(busy %.1f ms)\n",
        runSeconds, static_cast<double>(events) / runSeconds, runStall.first, runStall.second);
    std::printf("target: the GUI thread busy under 50 ms at once during the run: %s\n",
                runStall.second < 50.0 ? "met" : "MISSED");
    return 0;
}
