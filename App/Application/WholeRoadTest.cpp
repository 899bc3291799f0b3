// The whole road through the real main window, as a user goes it: choose the
// music folder, tick an artist, choose a folder and a delivered unit, review,
// confirm, and find the songs converted by the real ffmpeg with their tags.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "App/Application/TarvikApp.hpp"
#include "App/MainWindow/Dialogs.hpp"
#include "App/MainWindow/MainWindow.hpp"
#include "App/Testing/MusicLibrary.hpp"
#include "App/Testing/Screenshots.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

template <typename T>
T* child(QWidget& parent, const char* name) {
    T* found = parent.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}

std::string text(QWidget& parent, const char* name) { return child<QLabel>(parent, name)->text().toStdString(); }

// Every exported song below `root`, by its path below the root, with its modification time.
std::map<std::string, fs::file_time_type> exported(const fs::path& root) {
    std::map<std::string, fs::file_time_type> files;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file() && entry.path().extension() == ".mp3")
            files[fs::relative(entry.path(), root).string()] = entry.last_write_time();
    return files;
}

std::string tag(const fs::path& file, const std::string& key) {
    const auto result = testing::runCommand({"ffprobe", "-v", "error", "-show_entries", "format_tags=" + key, "-of",
                                             "default=noprint_wrappers=1:nokey=1", file.string()});
    std::string value = result.output;
    while (!value.empty() && (value.back() == '\n' || value.back() == '\r')) value.pop_back();
    return value;
}

class WholeRoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::makeMusicLibrary(music.path());
        AppModel::Services services = AppModelTesting::services(xdg);
        services.settings->setBoolean("onboarded", true);
        services.settings->setBoolean("lookup", false);  // never the network
        services.settings->setBoolean("normalize", false);
        services.locateFFmpeg = [] { return std::optional<fs::path>("/usr/bin/ffmpeg"); };
        services.volumes = std::make_shared<testing::FixtureVolumes>();
        app = std::make_unique<TarvikApp>(std::make_unique<AppModel>(std::move(services)),
                                          Licenses::Desktop{.showItem = [](const fs::path&) { return true; },
                                                            .openFolder = [](const fs::path&) {}});
        app->show();
    }

    MainWindow& window() { return app->mainWindow(); }
    AppModel& model() { return app->model(); }

    // From "次へ：内容を確認" through the review to the end of the run.
    void exportThroughReview() {
        QPushButton* start = child<QPushButton>(window(), "startButton");
        ASSERT_TRUE(start->isEnabled());
        QTest::mouseClick(start, Qt::LeftButton);
        ASSERT_TRUE(testing::waitUntil([&] { return window().reviewSheet() != nullptr && window().reviewSheet()->isVisible(); },
                                       std::chrono::seconds(60)))
            << model().state().message;
        QTest::mouseClick(child<QPushButton>(*window().reviewSheet(), "reviewConfirmButton"), Qt::LeftButton);
        ASSERT_TRUE(testing::waitUntil([&] { return model().state().is(RunState::Case::finished); },
                                       std::chrono::seconds(120)))
            << model().state().message;
        EXPECT_EQ(window().reviewSheet(), nullptr);
    }

    testing::ScopedXdg xdg;
    testing::TempDir music;
    testing::TempDir destination;
    std::unique_ptr<TarvikApp> app;
};

TEST_F(WholeRoadTest, ChooseTickReviewExportAndAgainSkipsWhatIsThere) {
    {
        Dialogs::Script script;
        script.answerFolder(music.path());
        QTest::mouseClick(child<QPushButton>(window(), "musicFolderButton"), Qt::LeftButton);
        script.answerFolder(destination.path());
        QTest::mouseClick(child<QPushButton>(window(), "otherFolderButton"), Qt::LeftButton);
    }
    auto* artists = child<QListWidget>(window(), "artistList");
    ASSERT_TRUE(testing::waitUntil([&] { return artists->count() == 2; }));
    const QList<QListWidgetItem*> aino = artists->findItems("Aino Trio", Qt::MatchExactly);
    ASSERT_EQ(aino.size(), 1);
    aino[0]->setCheckState(Qt::Checked);
    EXPECT_EQ(model().selected(), (std::set<std::string>{"Aino Trio"}));

    auto* units = child<QComboBox>(window(), "profilePicker");
    const int generic = units->findData("generic-mp3");
    ASSERT_GE(generic, 0);
    units->setCurrentIndex(generic);
    emit units->activated(generic);
    EXPECT_EQ(model().profileId(), "generic-mp3");
    EXPECT_EQ(model().destPath(), destination.path().string());

    exportThroughReview();
    const auto first = exported(destination.path());
    ASSERT_EQ(first.size(), 3U);
    std::set<std::string> titles;
    for (const auto& [relative, time] : first) {
        const fs::path file = destination.path() / relative;
        EXPECT_EQ(tag(file, "artist"), "Aino Trio") << relative;
        const std::string album = tag(file, "album");
        EXPECT_TRUE(album == "Kesä" || album == "Talvi") << relative;
        titles.insert(tag(file, "title"));
        EXPECT_NE(relative.find(tag(file, "title")), std::string::npos) << relative;
    }
    EXPECT_EQ(titles, (std::set<std::string>{"Aamu", "Ilta", "Lumi"}));
    EXPECT_EQ(text(window(), "summaryHeadline"), "できあがり！ 車で聴けます");
    EXPECT_EQ(text(window(), "summaryDetail"), "3 曲を書き出しました");
    testing::saveScreenshot(window(), "whole-road-finished");

    exportThroughReview();
    EXPECT_EQ(exported(destination.path()), first);  // nothing written again
    EXPECT_EQ(text(window(), "summaryHeadline"), "できあがり！ 車で聴けます");
}

}  // namespace
}  // namespace tarvik
