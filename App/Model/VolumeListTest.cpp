#include "App/Model/VolumeList.hpp"

#include <gtest/gtest.h>

#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using Mounted = VolumeService::Mounted;

TEST(VolumeListTest, RemovableFromAnyOfThreeFacts) {
    struct Case {
        std::optional<bool> removable, ejectable, internal;
        bool expected;
    };
    const std::vector<Case> cases = {
        {true, false, true, true},
        {false, true, true, true},                           // ejectable only
        {false, false, false, true},                         // known not internal
        {std::nullopt, std::nullopt, std::nullopt, false},   // nothing known
        {std::nullopt, std::nullopt, true, false},
    };
    for (const Case& c : cases) {
        const Mounted volume{.path = "/v", .removable = c.removable, .ejectable = c.ejectable,
                             .internal = c.internal};
        EXPECT_EQ(countsAsRemovable(volume), c.expected)
            << c.removable.value_or(2) << c.ejectable.value_or(2) << c.internal.value_or(2);
    }
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
        {"/media/u/B", "B", 0, true},
        {"/media/u/a", "a", 0, true},
        {"/mnt/x", "A", 0, false},
        {"/home", "Caf\u00E9", 7, false},
        {"/srv", "Cafe\u0301", 0, false},
        {"/data", "b", 5, false},
    };
    EXPECT_EQ(volumeList(mounted), expected);
}

TEST(VolumeListTest, AutoCleanGuards) {
    const AutoCleanFacts allowed{.autoCleanSD = true, .destPath = "/media/u/Caf\u00E9",
                                 .isCardVolume = true};
    struct Case {
        const char* what;
        AutoCleanFacts facts;
        bool expected;
    };
    auto with = [&](auto change) {
        AutoCleanFacts facts = allowed;
        change(facts);
        return facts;
    };
    const std::vector<Case> cases = {
        {"all hold", allowed, true},
        {"setting off", with([](auto& f) { f.autoCleanSD = false; }), false},
        {"exporting to it", with([](auto& f) { f.busy = true; }), false},
        {"exporting elsewhere",
         with([](auto& f) { f.busy = true, f.destPath = "/media/u/Other"; }), true},
        {"sending", with([](auto& f) { f.sendingToCard = true; }), false},
        {"no card", with([](auto& f) { f.isCardVolume = false; }), false},
    };
    for (const Case& c : cases) {
        // The volume's path is the destination's in another normal form.
        EXPECT_EQ(autoCleanAllowed(c.facts, "/media/u/Cafe\u0301"), c.expected) << c.what;
    }
}

std::vector<std::string> names(int count) {
    std::vector<std::string> list;
    for (int i = 1; i <= count; ++i) list.push_back("f" + std::to_string(i) + ".mp3");
    return list;
}

TEST(VolumeListTest, CleanNoticeNamesAtMostThreeFailures) {
    EXPECT_EQ(cleanNoticeText("CARD", {}), std::nullopt);
    EXPECT_EQ(cleanNoticeText("CARD", {2, 1, {}}),
              "SD カード「CARD」を掃除しました（隠しファイル 2 個、名前の修正 1 個）。"
              "このままカーナビに差して大丈夫です。");
    EXPECT_EQ(cleanNoticeText("CARD", {0, 0, names(10)}),
              "SD カード「CARD」を掃除しました（隠しファイル 0 個、名前の修正 0 個）。"
              "このままカーナビに差して大丈夫です。 名前を直せなかったもの: "
              "f1.mp3、f2.mp3、f3.mp3");
}

TEST(VolumeListTest, CleanAlertListsEightFailuresThenAnEllipsis) {
    const std::string head =
        "隠しファイルを 3 個消しました。\n"
        "カーナビが読めない名前（濁点の分離、「〜」などの記号）を 0 個直しました。";
    EXPECT_EQ(cleanAlertText({3, 0, {}}), head);
    const std::string eight =
        "\nf1.mp3\nf2.mp3\nf3.mp3\nf4.mp3\nf5.mp3\nf6.mp3\nf7.mp3\nf8.mp3";
    EXPECT_EQ(cleanAlertText({3, 0, names(8)}),
              head + "\n次の 8 個は名前を変えられませんでした（同じ名前のファイルがある など）:" +
                  eight);
    EXPECT_EQ(cleanAlertText({3, 0, names(10)}),
              head + "\n次の 10 個は名前を変えられませんでした（同じ名前のファイルがある など）:" +
                  eight + "\n…");
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
