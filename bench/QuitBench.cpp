// Quitting while an export converts: the application model runs a real export
// (ffmpeg on generated tracks long enough to keep every conversion busy), and
// once it has converted for a while the program quits as Ctrl+Q or a logout's
// SIGTERM makes it: the event loop ends and the model goes, stopping the run
// and waiting for it. Prints how long that took, and whether ffmpeg children
// or conversion folders outlived it; the target is under 1 s.
//
//   tarvik_quit_bench [tracks] [seconds converting before the quit]   (default: 16 1.5)

#include <stdlib.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "App/Model/AppModel.hpp"
#include "bench/BenchSupport.hpp"

namespace {

namespace fs = std::filesystem;
using namespace tarvik;
using bench::Clock;

// Processes whose parent is this one (ffmpeg children still running).
int livingChildren() {
    int count = 0;
    const std::string self = std::to_string(::getpid());
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string pid, name, state, parent;
        if (stat >> pid >> name >> state >> parent && parent == self) ++count;
    }
    return count;
}

int conversionFolders(const fs::path& temporary) {
    int count = 0;
    for (const auto& entry : fs::directory_iterator(temporary))
        if (entry.path().filename().string().starts_with("tarvik-")) ++count;
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int tracks = argc > 1 ? std::stoi(argv[1]) : 16;
    const double converting = argc > 2 ? std::stod(argv[2]) : 1.5;
    const fs::path ffmpeg = "/usr/bin/ffmpeg";
    if (!fs::exists(ffmpeg)) {
        std::fprintf(stderr, "needs ffmpeg at %s\n", ffmpeg.c_str());
        return 1;
    }

    const bench::WorkFolder work;
    const fs::path temporary = work.path() / "tmp";
    fs::create_directories(temporary);
    ::setenv("TMPDIR", temporary.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (work.path() / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (work.path() / "data").c_str(), 1);
    std::vector<bench::GeneratedTrack> generated;
    for (int i = 0; i < tracks; ++i) {
        const fs::path file =
            work.path() / "music" / "Band" / "Album" / (std::to_string(i + 1) + ".flac");
        generated.push_back({file,
                             "sine=frequency=440:duration=240",
                             {{"title", "Song " + std::to_string(i + 1)},
                              {"artist", "Band"},
                              {"album", "Album"},
                              {"track", std::to_string(i + 1)}}});
    }
    bench::generateTracks(ffmpeg, generated, 4);
    fs::create_directories(work.path() / "card");

    AppModel::Services services;
    services.settings = Settings::standard();
    services.systemLowLoad = [] { return false; };
    services.locateFFmpeg = [ffmpeg] { return std::optional<fs::path>(ffmpeg); };
    auto model = std::make_unique<AppModel>(std::move(services));
    model->setSrcPath((work.path() / "music").string());
    model->setDestPath((work.path() / "card").string());
    model->setProfileId("generic-mp3");
    model->setLookup(false);
    model->setNormalize(true);
    model->setSkipReview(true);

    bool running = false;
    QObject::connect(model.get(), &AppModel::stateChanged, [&] {
        if (running || !model->state().is(RunState::Case::running)) return;
        running = true;
        QTimer::singleShot(static_cast<int>(converting * 1000), [] { QCoreApplication::quit(); });
    });
    QTimer::singleShot(0, [&] { model->startPlanning(); });
    QCoreApplication::exec();
    if (!running) {
        std::fprintf(stderr, "the export did not start: %s\n", model->state().message.c_str());
        return 1;
    }
    const int childrenBefore = livingChildren();
    const int foldersBefore = conversionFolders(temporary);
    const auto start = Clock::now();
    model.reset();
    const double seconds = bench::secondsSince(start);
    std::printf(
        "quit during a run: %.3f s (target < 1 s); before it %d ffmpeg children and %d "
        "conversion folders, after it %d and %d\n",
        seconds, childrenBefore, foldersBefore, livingChildren(), conversionFolders(temporary));
    return seconds < 1.0 ? 0 : 2;
}
