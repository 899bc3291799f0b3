// The log panel under a run that appends fast: a shown panel follows the
// model's log while lines arrive one event at a time, first filling the log
// to its cap of 5,000 lines and then pushing the oldest out. Each step is one
// appended line and the event loop's turn that paints it. Prints the mean
// time per line and the longest single step; the target is a longest step
// under 16 ms, one frame (in an optimised build; Debug with the sanitizers
// is several times slower).
//
//   tarvik_log_panel_bench [lines]      (default: 6000)

#include <stdlib.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "App/MainWindow/LogSection.hpp"
#include "App/Model/AppModel.hpp"
#include "bench/BenchSupport.hpp"

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

    Clock::duration longest{};
    Clock::duration appendTime{};
    const auto start = Clock::now();
    for (int i = 0; i < lines; ++i) {
        const auto before = Clock::now();
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
        longest = std::max(longest, Clock::now() - before);
    }
    const double total = bench::secondsSince(start);
    const auto ms = [](auto duration) {
        return std::chrono::duration<double, std::milli>(duration).count();
    };
    std::printf(
        "log panel: %d lines, %.3f ms per line (%.3f ms of it appending, the rest painting), "
        "longest append %.2f ms (target < 16 ms), %zu lines kept\n",
        lines, total * 1000 / lines, ms(appendTime) / lines, ms(longest), model.log().size());
    return 0;
}
