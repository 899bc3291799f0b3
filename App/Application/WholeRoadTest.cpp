// The whole road through the real main window, as a user goes it: choose the
// music folder, tick an artist, choose a folder and a delivered unit, review,
// confirm, and find the songs converted by the real ffmpeg with their tags.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QListWidget>

#include "App/Application/TarvikApp.hpp"
#include "App/Kit/Dialogs.hpp"
#include "App/MainWindow/MainWindow.hpp"
#include "App/Testing/MusicLibrary.hpp"
#include "App/Testing/Screenshots.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

using testing::child;
using testing::labelText;

std::string tag(const fs::path& file, const std::string& key) {
    const auto result =
        testing::runCommand({"ffprobe", "-v", "error", "-show_entries", "format_tags=" + key, "-of",
                             "default=noprint_wrappers=1:nokey=1", file.string()});
    return result.output.substr(0, result.output.find_last_not_of("\r\n") + 1);
}

class WholeRoadTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::makeMusicLibrary(music.path());
        app = std::make_unique<TarvikApp>(
            std::move(f.model), Licenses::Desktop{.showItem = [](const fs::path&) { return true; },
                                                  .openFolder = [](const fs::path&) {}});
        app->show();
    }

    MainWindow& window() { return app->mainWindow(); }
    AppModel& model() { return app->model(); }

    // From "次へ：内容を確認" through the review to the end of the run.
    void exportThroughReview() {
        ASSERT_TRUE(child(window(), "startButton")->isEnabled());
        testing::click(window(), "startButton");
        ASSERT_TRUE(testing::waitUntil(
            [&] {
                return window().reviewSheet() != nullptr && window().reviewSheet()->isVisible();
            },
            std::chrono::seconds(60)))
            << model().state().message;
        testing::click(*window().reviewSheet(), "reviewConfirmButton");
        ASSERT_TRUE(testing::waitUntil([&] { return model().state().is(RunState::Case::finished); },
                                       std::chrono::seconds(120)))
            << model().state().message;
        EXPECT_EQ(window().reviewSheet(), nullptr);
    }

    testing::ModelFixture f{[](Settings& settings) {
                                settings.setBoolean("onboarded", true);
                                for (const char* key : {"lookup", "normalize"})
                                    settings.setBoolean(key, false);  // never the network
                            },
                            true};
    testing::TempDir music;
    testing::TempDir destination;
    std::unique_ptr<TarvikApp> app;
};

TEST_F(WholeRoadTest, ChooseTickReviewExportAndAgainSkipsWhatIsThere) {
    {
        Dialogs::Script script;
        script.answerFolder(music.path());
        testing::click(window(), "musicFolderButton");
        script.answerFolder(destination.path());
        testing::click(window(), "otherFolderButton");
    }
    auto* artists = child<QListWidget>(window(), "artistList");
    ASSERT_TRUE(testing::waitUntil([&] { return artists->count() == 2; }));
    const auto aino = artists->findItems("Aino Trio", Qt::MatchExactly);
    ASSERT_EQ(aino.size(), 1);
    aino[0]->setCheckState(Qt::Checked);

    testing::choose(*child<QComboBox>(window(), "profilePicker"), "generic-mp3");

    exportThroughReview();
    const auto first = testing::exportedSongs(destination.path());
    ASSERT_EQ(first.size(), 3U);
    std::set<std::string> tags;  // artist / album / title, read back by ffprobe
    for (const auto& [relative, time] : first) {
        const fs::path file = destination.path() / relative;
        tags.insert(tag(file, "artist") + " / " + tag(file, "album") + " / " + tag(file, "title"));
        EXPECT_NE(relative.find(tag(file, "title")), std::string::npos) << relative;
    }
    EXPECT_EQ(tags, (std::set<std::string>{"Aino Trio / Kesä / Aamu", "Aino Trio / Kesä / Ilta",
                                           "Aino Trio / Talvi / Lumi"}));
    EXPECT_EQ(labelText(window(), "summaryHeadline"), "できあがり！ 車で聴けます");
    EXPECT_EQ(labelText(window(), "summaryDetail"), "3 曲を書き出しました");
    testing::saveScreenshot(window(), "whole-road-finished");

    exportThroughReview();
    EXPECT_EQ(testing::exportedSongs(destination.path()), first);  // nothing written again
}

}  // namespace
}  // namespace tarvik
