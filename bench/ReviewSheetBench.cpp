// Opens the review sheet on a plan of many songs and prints how long it takes
// from the sheet's construction to its first finished paint: the sheet must
// appear at once whatever the plan's size. The plan is generated, not read
// from audio files, so that only the sheet is measured.
//
//   tarvik_reviewsheet_bench [items] [rounds]      (defaults: 20000 items, 5 rounds)

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "App/Model/AppModel.hpp"
#include "App/Windows/ReviewView.hpp"

namespace {

using namespace tarvik;
using Clock = std::chrono::steady_clock;

ConversionPlan generatedPlan(int count) {
    ConversionPlan plan;
    plan.items.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const std::string artist = "歌手 " + std::to_string(i / 50);
        const std::string album = "アルバム " + std::to_string(i / 10);
        const std::string title = "曲 " + std::to_string(i);
        ConversionPlan::Item item;
        item.meta = TrackMeta(title, artist, "", album, "", "", "", "");
        item.relativePath = "MUSIC/" + artist + "/" + album + "/" + title + ".mp3";
        plan.items.push_back(std::move(item));
    }
    return plan;
}

}  // namespace

int main(int argc, char** argv) {
    const int items = argc > 1 ? std::atoi(argv[1]) : 20'000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    QApplication app(argc, argv);

    AppModel::Services services;
    services.settings = std::make_unique<Settings>(home.path() + "/Tarvik.conf");
    services.legacySettings = [] { return std::unique_ptr<Settings>(); };
    services.systemLowLoad = [] { return false; };
    services.locateFFmpeg = [] { return std::filesystem::path("/usr/bin/ffmpeg"); };
    const ConversionPlan plan = generatedPlan(items);
    services.planPass = [&plan](const ConversionRunner&, const ProgressCallback&, std::stop_token) {
        return plan;
    };
    AppModel model(std::move(services));
    model.setSrcPath(home.path().toStdString());
    model.setDestPath(home.path().toStdString());
    model.setLookup(false);
    model.startPlanning();
    while (!model.state().is(RunState::Case::reviewing)) {
        if (!model.isBusy()) {
            std::fprintf(stderr, "planning ended without a plan: %s\n",
                         model.state().message.c_str());
            return 1;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }

    std::vector<double> times;
    std::string shown;
    for (int round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        ReviewView sheet(model);
        sheet.show();
        sheet.repaint();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        shown = sheet.findChild<QPushButton*>("reviewSongsTab")->text().toStdString();
    }
    std::sort(times.begin(), times.end());
    std::printf("tab shown: %s\n", shown.c_str());
    std::printf("review sheet, %d items: first paint %.1f ms (median of %d, best %.1f ms)\n", items,
                times[times.size() / 2], rounds, times.front());
    return 0;
}
