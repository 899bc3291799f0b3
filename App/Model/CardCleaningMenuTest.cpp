#include <gtest/gtest.h>

#include "App/Model/AppModel.hpp"
#include "App/Model/AppModelTesting.hpp"
#include "App/Model/CardCleaningMenu.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using testing::writeFile;

// The menu asks nothing of the send window; no folder chosen: nothing happens.
TEST(CardCleaningMenuTest, CleansTheChosenFolderEvenWhileSendingAndSaysWhat) {
    testing::ScopedXdg xdg;
    testing::TempDir temp;
    AppModel model(AppModelTesting::services(xdg));
    model.setDestPath(temp.path().string());
    model.setSendingToCard(true);
    writeFile(temp / "._a.mp3", "fork");
    writeFile(temp / "Live\u301C" / "1.mp3", "x");
    std::vector<std::filesystem::path> starts;
    std::vector<std::string> alerts;
    std::optional<std::filesystem::path> answer;  // cancelled first
    const CleanDialogs dialogs{
        .chooseFolder =
            [&](const std::string&, const std::filesystem::path& start,
                const std::function<void(const std::filesystem::path&)>& chosen) {
                starts.push_back(start);
                if (answer) chosen(*answer);
            },
        .waitFor =
            [](InteractiveCleaning& cleaning) {
                EXPECT_TRUE(testing::waitUntil([&] { return !cleaning.running(); }));
            },
        .inform =
            [&](const std::string& message, const std::string& informative) {
                alerts.push_back(message + "|" + informative);
            }};
    cleanCardInteractive(model, dialogs);
    EXPECT_TRUE(alerts.empty());
    EXPECT_TRUE(std::filesystem::exists(temp / "._a.mp3"));
    answer = temp.path();
    cleanCardInteractive(model, dialogs);
    EXPECT_EQ(starts, (std::vector<std::filesystem::path>{temp.path(), temp.path()}));
    ASSERT_EQ(alerts.size(), 1U);
    EXPECT_TRUE(alerts[0].starts_with("掃除しました|隠しファイルを 1 個消しました。")) << alerts[0];
    EXPECT_EQ(testing::filesBelow(temp.path()),
              (std::map<std::string, std::string>{{"Live~/1.mp3", "x"}}));
    // No destination: where the desktop mounts cards.
    model.setDestPath("");
    answer.reset();
    cleanCardInteractive(model, dialogs);
    EXPECT_EQ(starts.back(), model.mediaFolder());
}

}  // namespace
}  // namespace tarvik
