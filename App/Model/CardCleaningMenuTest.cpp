#include "App/Model/CardCleaningMenu.hpp"

#include <gtest/gtest.h>

#include "App/Model/AppModel.hpp"
#include "App/Model/AppModelTesting.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using testing::filesBelow;
using testing::writeFile;

struct Answers {
    std::optional<std::filesystem::path> folder;
    std::vector<std::filesystem::path> starts{};
    std::vector<std::pair<std::string, std::string>> alerts{};

    CleanDialogs dialogs() {
        return {.chooseFolder =
                    [this](const std::string&, const std::filesystem::path& start) {
                        starts.push_back(start);
                        return folder;
                    },
                .inform = [this](const std::string& message,
                                 const std::string& informative) {
                    alerts.emplace_back(message, informative);
                }};
    }
};

TEST(CardCleaningMenuTest, CleansTheChosenFolderEvenWhileSendingAndSaysWhat) {
    testing::ScopedXdg xdg;
    testing::TempDir temp;
    AppModel model(AppModelTesting::services(xdg));
    model.setDestPath(temp.path().string());
    model.setSendingToCard(true);  // the menu asks nothing of the send window
    writeFile(temp / "._a.mp3", "fork");
    writeFile(temp / "Live\u301C" / "1.mp3", "x");

    Answers answers{.folder = temp.path()};
    cleanCardInteractive(model, answers.dialogs());
    EXPECT_EQ(answers.starts, std::vector<std::filesystem::path>{temp.path()});
    ASSERT_EQ(answers.alerts.size(), 1U);
    EXPECT_EQ(answers.alerts[0].first, "掃除しました");
    EXPECT_EQ(answers.alerts[0].second,
              "隠しファイルを 1 個消しました。\n"
              "カーナビが読めない名前（濁点の分離、「〜」などの記号）を 1 個直しました。");
    EXPECT_EQ(filesBelow(temp.path()), (std::map<std::string, std::string>{{"Live~/1.mp3", "x"}}));

    Answers cancelled;  // no folder: nothing happens, nothing is said
    model.setDestPath("");
    cleanCardInteractive(model, cancelled.dialogs());
    EXPECT_EQ(cancelled.starts.size(), 1U);
    EXPECT_NE(cancelled.starts[0], "");
    EXPECT_TRUE(cancelled.alerts.empty());
}

}  // namespace
}  // namespace tarvik
