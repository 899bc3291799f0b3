// Taking back partly written albums after a full card, on real files.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "Core/Pipeline/ConversionRunner.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::planOf;
using testing::TempDir;
using testing::writeFile;

TEST(RollBack, RemovesOnlyWhatThisRunWroteIntoPartialAlbums) {
    // Items 1-2 in A, 3-5 in B, 6-7 in C; numbers below are item numbers.
    const ConversionPlan plan = planOf({{"Artist A/A", 2}, {"Artist B/B", 3}, {"Artist C/C", 2}});
    struct Case {
        std::string name;
        std::set<int> excluded;
        std::set<int> present;  // on the card before the run
        std::set<int> written;  // written by the run
        std::vector<std::string> otherFiles;
        std::vector<int> removed;
        std::vector<std::string> folders;
        std::vector<std::string> goneFolders;
        std::set<int> failed = {};  // failed to convert in this run
    };
    const std::vector<Case> cases = {
        {"the only album written now is partial", {}, {}, {3}, {}, {}, {}, {}},
        {"two partial albums are named in order",
         {},
         {},
         {1, 2, 3, 6},
         {},
         {3, 6},
         {"MUSIC/Artist B/B", "MUSIC/Artist C/C"},
         {"MUSIC/Artist B", "MUSIC/Artist C"}},
        {"a partial album that was already on the card", {}, {3}, {1, 2}, {}, {}, {}, {}},
        {"what was there stays, what was written goes",
         {},
         {3},
         {1, 2, 4},
         {},
         {4},
         {"MUSIC/Artist B/B"},
         {}},
        {"a folder holding other files stays, and so does its parent",
         {},
         {},
         {1, 2, 3},
         {"MUSIC/Artist B/B/cover.jpg"},
         {3},
         {"MUSIC/Artist B/B"},
         {}},
        {"excluded tracks are not expected", {4, 5}, {}, {1, 2, 3}, {}, {}, {}, {}},
        {"failed tracks are not expected", {}, {}, {1, 2, 3, 5}, {}, {}, {}, {}, {4}},
        {"an album short of more than its failures is partial",
         {},
         {},
         {1, 2, 3},
         {},
         {3},
         {"MUSIC/Artist B/B"},
         {"MUSIC/Artist B"},
         {4}},
    };
    for (const Case& test : cases) {
        TempDir card;
        const auto item = [&](int n) { return plan.items[static_cast<std::size_t>(n - 1)]; };
        std::set<std::string> exclude, failed, placed;
        std::map<std::string, std::string> written;
        for (int n : test.excluded) exclude.insert(item(n).relativePath);
        for (int n : test.failed) failed.insert(item(n).relativePath);
        for (int n : test.present) {
            writeFile(card / item(n).relativePath, "old");
            placed.insert(item(n).relativePath);
        }
        for (int n : test.written) {
            writeFile(card / item(n).relativePath, "new");
            placed.insert(item(n).relativePath);
            written[item(n).relativePath] = (card / item(n).relativePath).string();
        }
        for (const std::string& other : test.otherFiles) writeFile(card / other, "other");

        const ConversionRunner::RollBack result =
            ConversionRunner::rollBackPartialAlbums(plan.items, exclude, failed, placed, written);
        std::vector<std::string> removed;
        for (int n : test.removed) removed.push_back(item(n).relativePath);
        EXPECT_EQ(result.removed, removed) << test.name;
        EXPECT_EQ(result.albumFolders, test.folders) << test.name;
        for (int n = 1; n <= 7; ++n) {
            const bool expected =
                (test.present.contains(n) || test.written.contains(n)) &&
                std::find(test.removed.begin(), test.removed.end(), n) == test.removed.end();
            EXPECT_EQ(fs::exists(card / item(n).relativePath), expected)
                << test.name << ": item " << n;
        }
        for (const std::string& folder : test.goneFolders) {
            EXPECT_FALSE(fs::exists(card / folder)) << test.name << ": " << folder;
        }
        for (const std::string& other : test.otherFiles) {
            EXPECT_TRUE(fs::exists(card / other)) << test.name << ": " << other;
        }
    }
}

}  // namespace
}  // namespace tarvik
