#include <gtest/gtest.h>

#include "App/Model/VolumeList.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using Mounted = VolumeService::Mounted;

TEST(VolumeListTest, RemovableFromAnyOfThreeFacts) {
    using Facts = std::tuple<std::optional<bool>, std::optional<bool>, std::optional<bool>, bool>;
    const std::optional<bool> unknown;
    // removable, ejectable, internal → counts as removable
    for (const auto& [removable, ejectable, internal, expected] :
         {Facts{true, false, true, true}, Facts{false, true, true, true},
          Facts{false, false, false, true}, Facts{unknown, unknown, unknown, false}})
        EXPECT_EQ(countsAsRemovable({.path = "/v",
                                     .removable = removable,
                                     .ejectable = ejectable,
                                     .internal = internal}),
                  expected)
            << removable.value_or(2) << ejectable.value_or(2) << internal.value_or(2);
}

TEST(VolumeListTest, RemovableFirstThenNamesInScalarOrderWithoutTheRoot) {
    const std::vector<Mounted> mounted = {
        {.path = "/", .name = "root", .rootFileSystem = true},
        {.path = "/media/u/a", .removable = true},  // named by its folder
        {.path = "/data", .name = "b", .available = 5, .internal = true},
        {.path = "/media/u/B", .removable = true, .rootFileSystem = false},
        {.path = "/home", .name = "Caf\u00E9", .available = 7},
        {.path = "/srv", .name = "Cafe\u0301"},  // the same name canonically: list order kept
        {.path = "/mnt/x", .name = "A"},
    };
    const std::vector<Volume> expected = {
        {"/media/u/B", "B", 0, true},     {"/media/u/a", "a", 0, true},
        {"/mnt/x", "A", 0, false},        {"/home", "Caf\u00E9", 7, false},
        {"/srv", "Cafe\u0301", 0, false}, {"/data", "b", 5, false}};
    EXPECT_EQ(volumeList(mounted), expected);
}

TEST(VolumeListTest, AutoCleanGuards) {
    const AutoCleanFacts allowed{
        .autoCleanSD = true, .destPath = "/media/u/Caf\u00E9", .isCardVolume = true};
    std::vector<std::pair<AutoCleanFacts, bool>> cases(6, {allowed, false});
    cases[0].second = true;
    cases[5].first.autoCleanSD = false;
    cases[1].first.busy = true;  // exporting to it
    cases[2].first.busy = true, cases[2].first.destPath = "/media/u/Other", cases[2].second = true;
    cases[3].first.sendingToCard = true;
    cases[4].first.isCardVolume = false;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        // The volume's path is the destination's in another normal form.
        EXPECT_EQ(autoCleanAllowed(cases[i].first, "/media/u/Cafe\u0301"), cases[i].second) << i;
    }
}

// The notice names at most three failures, the alert eight and an ellipsis.
TEST(VolumeListTest, CleanTextsCapTheNamesOfFailures) {
    std::vector<std::string> names;
    for (int i = 1; i <= 10; ++i) names.push_back("f" + std::to_string(i) + ".mp3");
    EXPECT_EQ(cleanNoticeText("CARD", {}), std::nullopt);
    EXPECT_TRUE(cleanNoticeText("CARD", {0, 0, names})
                    ->ends_with("大丈夫です。 名前を直せなかったもの: f1.mp3、f2.mp3、f3.mp3"));
    EXPECT_TRUE(
        cleanAlertText({3, 0, names})
            .ends_with("次の 10 個は名前を変えられませんでした（同じ名前のファイルがある など）:"
                       "\nf1.mp3\nf2.mp3\nf3.mp3\nf4.mp3\nf5.mp3\nf6.mp3\nf7.mp3\nf8.mp3\n…"));
}

TEST(VolumeListTest, InteractiveCleanWalksTheComposedFolderWhenThereIsOne) {
    testing::TempDir temp;
    const std::string decomposed = "Cafe\u0301", composed = "Caf\u00E9";
    std::filesystem::create_directories(temp / composed);
    EXPECT_EQ(interactiveCleanRoot(temp / decomposed), temp / composed);
    std::filesystem::remove(temp / composed);
    std::filesystem::create_directories(temp / decomposed);  // only the other form exists
    EXPECT_EQ(interactiveCleanRoot(temp / decomposed), temp / decomposed);
}

}  // namespace
}  // namespace tarvik
