// The log panel under a run that appends fast: a shown panel follows the
// model's log while lines arrive one event at a time, first filling the log
// to its cap of 5,000 lines and then pushing the oldest out. Each step is one
// appended line and the event loop's turn that paints it. Prints the mean
// time per line and the longest single step, in wall time and in the GUI
// thread's own processor time (a loaded machine stretches the first), for
// the first thousand lines and for the last thousand: an append must cost
// the same whatever the panel holds. The target is a longest step under
// 16 ms, one frame (in an optimised build; Debug with the sanitizers is
// several times slower).
//
//   tarvik_log_panel_bench [lines]      (default: 6000)

#include <stdlib.h>
#include <time.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "App/MainWindow/LogSection.hpp"
#include "App/Model/AppModel.hpp"
#include "bench/BenchSupport.hpp"

namespace {

double threadCpuMs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

// The longest step of a stretch of lines, in wall and processor time (ms).
struct Longest {
    double wall = 0;
    double cpu = 0;
    void add(double wallMs, double cpuMs) {
        wall = std::max(wall, wallMs);
        cpu = std::max(cpu, cpuMs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    using namespace tarvik;
    using bench::Clock;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const int lines = argc > 1 ? std::stoi(argv[1]) : 6000;

    const bench::WorkFolder work;
    ::setenv("XDG_CONFIG_HOME", (work.path() / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (work.path() / "data").c_str(), 1);
    AppModel::Services services;
    services.settings = Settings::standard();
    services.systemLowLoad = [] { return false; };
    AppModel model(std::move(services));
    model.setShowLog(true);

    LogSection panel(model);
    panel.resize(560, 420);
    panel.show();
    QApplication::processEvents();

    const auto ms = [](auto duration) {
        return std::chrono::duration<double, std::milli>(duration).count();
    };
    Longest all;
    Longest first;
    Longest last;
    Clock::duration appendTime{};
    const auto start = Clock::now();
    for (int i = 0; i < lines; ++i) {
        const auto before = Clock::now();
        const double cpuBefore = threadCpuMs();
        const std::string number = std::to_string(i);
        if (i % 10 == 9)
            model.appendLog(LogLine::Kind::error,
                            "[失敗] " + number + ".flac\n    ファイルが壊れています");
        else
            model.appendLog(LogLine::Kind::converted,
                            "変換 青い月/はじめてのアルバム/" + number + " 夜明け.mp3");
        const auto appended = Clock::now();
        appendTime += appended - before;
        QApplication::processEvents();
        const double wall = ms(Clock::now() - before);
        const double cpu = threadCpuMs() - cpuBefore;
        all.add(wall, cpu);
        if (i < 1000) first.add(wall, cpu);
        if (i >= lines - 1000) last.add(wall, cpu);
    }
    const double total = bench::secondsSince(start);
    std::printf(
        "log panel: %d lines, %.3f ms per line (%.3f ms of it appending, the rest painting), "
        "%zu lines kept\n"
        "longest step: %.2f ms wall, %.2f ms GUI-thread processor time (target < 16 ms)\n"
        "  first 1000 lines: %.2f ms wall, %.2f ms processor; last 1000: %.2f ms wall, "
        "%.2f ms processor\n",
        lines, total * 1000 / lines, ms(appendTime) / lines, model.log().size(), all.wall, all.cpu,
        first.wall, first.cpu, last.wall, last.cpu);
    return 0;
}
