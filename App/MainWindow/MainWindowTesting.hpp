#pragma once
// For the main window's tests and screenshots only: a model ready to export on
// temporary settings, the steps as the detail column holds them at the
// window's smallest size, and the states they are shown in. Header-only, so
// that the widgets' library does not carry it.
#include <sys/mount.h>

#include <QApplication>
#include <QHBoxLayout>
#include <QScrollArea>
#include <QTest>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "App/Kit/FunBackground.hpp"
#include "App/MainWindow/ArtistSidebar.hpp"
#include "App/MainWindow/HeaderBanner.hpp"
#include "App/MainWindow/LogSection.hpp"
#include "App/MainWindow/MainWindow.hpp"
#include "App/MainWindow/StepCardCard.hpp"
#include "App/MainWindow/StepExportCard.hpp"
#include "App/MainWindow/StepMusicCard.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "Core/Testing/Mounting.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::testing {

// A model that may export: a music folder with the artist "青い月" chosen, an
// existing destination folder `destination` below dir, and the default unit.
struct ReadyModel {
    TempDir dir;
    ModelFixture f;

    explicit ReadyModel(const std::string& destination = "out")
        : f([&](Settings& settings) {
              std::filesystem::create_directories(dir / "music" / "青い月");
              std::filesystem::create_directories(dir / destination);
              settings.setString("srcPath", (dir / "music").string());
              settings.setStringList("selected", {"青い月"});
              settings.setString("destPath", (dir / destination).string());
          }) {}
    AppModel& model() { return *f.model; }
};

// Steps stacked as the detail column holds them, beside the sidebar when one
// is given, at the main window's smallest size.
struct DetailColumn {
    QWidget root;
    QScrollArea* scroll = new QScrollArea;

    DetailColumn(std::initializer_list<QWidget*> steps, QWidget* sidebar) {
        auto* columns = new QHBoxLayout(&root);
        columns->setContentsMargins(0, 0, 0, 0);
        columns->setSpacing(0);
        if (sidebar != nullptr) {
            sidebar->setFixedWidth(240);
            columns->addWidget(sidebar);
        }
        auto* detail = new QWidget;
        auto* stack = new QVBoxLayout(detail);
        stack->setContentsMargins(20, 20, 20, 20);
        stack->setSpacing(14);
        for (QWidget* step : steps) stack->addWidget(step);
        stack->addStretch();
        scroll->setWidget(detail);
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        FunBackground::fill(scroll->viewport());
        columns->addWidget(scroll, 1);
        root.resize(sidebar != nullptr ? MainWindow::minimumWidth : MainWindow::minimumWidth - 240,
                    MainWindow::minimumHeight);
        root.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&root));
        QTest::qWait(100);  // the layouts settle
    }

    // As tall as its steps now need, once the progress bar has slid to its value.
    void fitHeight() {
        QTest::qWait(400);
        root.resize(root.width(), std::max(scroll->widget()->sizeHint().height(), 300));
        QApplication::processEvents();
    }
};

// Two artist folders named in Shift-JIS and in Latin-1, as a library copied
// from an older system has them: not UTF-8.
inline const std::string shiftJISArtist = "\x83\x65\x83\x58\x83\x67\x83\x6F\x83\x93\x83\x68";
inline const std::string latin1Artist = "Caf\xE9 Noir";
// A name far longer than the sidebar is wide at the window's smallest size.
inline const std::string longArtist = "ミッドナイト・ロング・アンド・ワインディング・オーケストラ";

// Shows the main window at the smallest size it allows, its layouts settled.
inline void showAtSmallestSize(MainWindow& window) {
    window.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.resize(window.minimumSize());
    QTest::qWait(100);
    EXPECT_EQ(window.size(), window.minimumSize());
}

// The first steps on a library of eight artists (two of them named in bytes
// that are not UTF-8, one longer than the sidebar), three of them and an
// album of the long one chosen, with a card, a carry-over and a cleaning
// notice; shown towards the card, towards an artist's folder (with its
// warning), towards a read-only folder (with its refusal; only where this
// process may mount) and with the music folder gone.
struct FirstSteps {
    TempDir library;
    TempDir places;
    std::unique_ptr<Tmpfs> readOnly;
    ModelFixture f{[this](Settings& settings) {
        for (const std::string& artist :
             {std::string("青い月"), std::string("さくら楽団"), std::string("東京ナイトバンド"),
              std::string("山田ハナ"), std::string("Ｍｏｏｎ Ｒｉｖｅｒ"), shiftJISArtist,
              latin1Artist, longArtist})
            std::filesystem::create_directories(musicFolder() / artist / "はじめてのアルバム");
        settings.setBoolean("onboarded", true);
        settings.setString("srcPath", musicFolder().string());
    }};

    FirstSteps() {
        f.model->setSelected({"さくら楽団", "青い月/はじめてのアルバム", shiftJISArtist,
                              longArtist + "/はじめてのアルバム"});
        f.volumes->add({.path = "/", .name = "システム", .available = 120'000'000'000});
        f.volumes->add(FixtureVolumes::card("/media/u/NAVI_SD", 31'914'983'424));
        f.model->refreshVolumes();
        f.settled();
        f.model->setCarryOver(
            {"さくら楽団/はじめてのアルバム/01.mp3", "さくら楽団/はじめてのアルバム/02.mp3"});
        f.model->setContinuing(true);
        f.model->setCleanNotice("SD カードを掃除しました: 「._」ファイル 3 件を消しました。");
        std::filesystem::create_directories(places / "NAVI_RO");
        std::string whyNot;
        readOnly = Tmpfs::mount(places / "NAVI_RO", "size=64k", whyNot, MS_RDONLY);
    }

    std::filesystem::path musicFolder() const { return library / "Music"; }

    // Each state with the name of what it shows and what puts the model there.
    std::vector<std::pair<std::string, std::function<void()>>> states() {
        const auto towards = [this](const std::string& destination, bool music) {
            return [this, destination, music] {
                const std::filesystem::path gone = library / "Gone";
                if (music && std::filesystem::exists(gone))
                    std::filesystem::rename(gone, musicFolder());
                if (!music && std::filesystem::exists(musicFolder()))
                    std::filesystem::rename(musicFolder(), gone);
                f.model->recheckFolders();
                f.model->setDestPath(destination);
                f.settled();
            };
        };
        std::vector<std::pair<std::string, std::function<void()>>> states = {
            {"card", towards("/media/u/NAVI_SD", true)},
            {"warning", towards((musicFolder() / "青い月").string(), true)},
            {"music-gone", towards("/media/u/NAVI_SD", false)},
        };
        if (readOnly) states.push_back({"read-only", towards((places / "NAVI_RO").string(), true)});
        return states;
    }

    std::unique_ptr<DetailColumn> show() {
        return std::make_unique<DetailColumn>(
            std::initializer_list<QWidget*>{new HeaderBanner(*f.model), new StepMusicCard(*f.model),
                                            new StepCardCard(*f.model)},
            new ArtistSidebar(*f.model));
    }
};

// The export step's states in order, each with what enters it on `model`.
inline std::vector<std::pair<std::string, std::function<void()>>> exportStates(AppModel& model) {
    const auto counts = [](std::int64_t done, std::int64_t failed, std::int64_t skipped) {
        return ConversionEvent::Progress{
            .done = done, .skipped = skipped, .failed = failed, .total = 60, .etaSeconds = 150};
    };
    const auto ending = [](ConversionEvent::Progress progress, bool cardFull,
                           ConversionEvent::Halt halt = ConversionEvent::Halt::none) {
        return ConversionEvent::Summary{.progress = progress,
                                        .stopped = halt != ConversionEvent::Halt::none,
                                        .cardFull = cardFull,
                                        .renamed = 0,
                                        .placed = {},
                                        .halt = halt};
    };
    return {
        {"idle",
         [&model] {
             model.resetRun();
             model.setShowLog(false);
         }},
        {"planning",
         [&model] {
             AppModelTesting::setState(model, RunState::planning());
             model.handleEvent(ConversionEvent::reading(850, 2000));
         }},
        {"running",
         [&model, counts] {
             AppModelTesting::setState(model, RunState::running());
             model.handleEvent(ConversionEvent::converting());
             model.handleEvent({counts(23, 1, 0)});
             model.appendLog(LogLine::Kind::converted,
                             "変換 青い月/はじめてのアルバム/01 夜明け.mp3");
             model.appendLog(LogLine::Kind::renamed, "曲名 青い月 / よあけ → 青い月 / 夜明け");
             model.appendLog(LogLine::Kind::error, "[失敗] 02 海.flac\n    ファイルが壊れています");
             model.appendLog(LogLine::Kind::notice, "SD カードがいっぱいになりました");
             model.setShowLog(true);
         }},
        {"full",
         [&model, counts, ending] {
             AppModelTesting::setState(model, RunState::finished(ending(counts(42, 0, 0), true)));
         }},
        {"done",
         [&model, counts, ending] {
             AppModelTesting::setState(model, RunState::finished(ending(counts(58, 2, 3), false)));
         }},
        {"all-failed",
         [&model, counts, ending] {
             AppModelTesting::setState(model, RunState::finished(ending(counts(0, 60, 0), false)));
         }},
        {"read-only",
         [&model, counts, ending] {
             AppModelTesting::setState(
                 model, RunState::finished(ending(counts(12, 1, 0), false,
                                                  ConversionEvent::Halt::destinationReadOnly),
                                           true));
         }},
        {"music-gone",
         [&model, counts, ending] {
             AppModelTesting::setState(
                 model, RunState::finished(ending(counts(45, 1, 0), false,
                                                  ConversionEvent::Halt::musicFolderLost)));
         }},
    };
}

// The export step above the log panel, as the detail column holds them.
inline std::unique_ptr<DetailColumn> exportColumn(AppModel& model) {
    return std::make_unique<DetailColumn>(
        std::initializer_list<QWidget*>{new StepExportCard(model), new LogSection(model)}, nullptr);
}

}  // namespace tarvik::testing
