#include <gtest/gtest.h>

#include <fstream>

#include "App/Application/Licenses.hpp"
#include "App/Platform/AppPaths.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

// The folder is named back only when the desktop could neither show the item
// nor open the folder: the menu then says so instead of doing nothing.
TEST(LicensesTest, RevealsTheFileOrItsFolderOrOpensTheFolderAndNothingWithoutResources) {
    testing::TempDir resources;
    const fs::path folder = resources.path() / "Licenses";
    const fs::path file = folder / "はじめにお読みください（ライセンス）.txt";
    fs::create_directories(folder);
    const struct {
        bool withResources, withFile, fileManagerAnswers, folderOpens;
        std::vector<fs::path> shown, opened;
        std::optional<fs::path> missed;
    } cases[] = {
        {true, true, true, true, {file}, {}, std::nullopt},
        {true, false, true, true, {folder}, {}, std::nullopt},
        {true, true, false, true, {file}, {folder}, std::nullopt},
        {true, false, false, true, {folder}, {folder}, std::nullopt},
        {true, true, false, false, {file}, {folder}, folder},
        {true, false, false, false, {folder}, {folder}, folder},
        {false, true, false, false, {}, {}, std::nullopt},
    };
    for (const auto& c : cases) {
        if (c.withFile)
            std::ofstream(file) << "ライセンス\n";
        else
            fs::remove(file);
        std::vector<fs::path> shown;
        std::vector<fs::path> opened;
        const auto show = [&](const fs::path& item) {
            shown.push_back(item);
            return c.fileManagerAnswers;
        };
        const Licenses::Desktop desktop{.showItem = show, .openFolder = [&](const fs::path& item) {
                                            opened.push_back(item);
                                            return c.folderOpens;
                                        }};
        const auto missed = Licenses::reveal(
            c.withResources ? std::optional(resources.path()) : std::nullopt, desktop);
        const std::string row = std::to_string(c.withResources) + std::to_string(c.withFile) +
                                std::to_string(c.fileManagerAnswers) +
                                std::to_string(c.folderOpens);
        EXPECT_EQ(shown, c.shown) << row;
        EXPECT_EQ(opened, c.opened) << row;
        EXPECT_EQ(missed, c.missed) << row;
    }
}

// The delivered folder holds the file the menu reveals and every text it names.
TEST(LicensesTest, TheDeliveredFileNamesOnlyTextsThatAreThere) {
    const auto item = Licenses::itemToReveal(AppPaths::resourcesDirectory());
    ASSERT_TRUE(item.has_value());
    ASSERT_EQ(item->filename(), "はじめにお読みください（ライセンス）.txt");
    const std::string text = testing::readFile(*item);
    for (const char* name : {"Qt.txt", "ICU.txt", "libcurl.txt", "SQLite.txt", "nlohmann-json.txt",
                             "TagLib.txt", "libcanberra.txt", "FFmpeg.txt", "LAME.txt"}) {
        EXPECT_NE(text.find(name), std::string::npos) << name;
        EXPECT_GT(fs::file_size(item->parent_path() / name), 500U) << name;
    }
}

}  // namespace
}  // namespace tarvik
