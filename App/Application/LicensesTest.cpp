#include <gtest/gtest.h>

#include <fstream>

#include "App/Application/Licenses.hpp"
#include "App/Platform/AppPaths.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

TEST(LicensesTest, RevealsTheFileOrItsFolderOrOpensTheFolderAndNothingWithoutResources) {
    testing::TempDir resources;
    const fs::path folder = resources.path() / "Licenses";
    const fs::path file = folder / "はじめにお読みください（ライセンス）.txt";
    fs::create_directories(folder);
    const struct {
        bool withResources, withFile, fileManagerAnswers;
        std::vector<fs::path> shown, opened;
    } cases[] = {
        {true, true, true, {file}, {}},        {true, false, true, {folder}, {}},
        {true, true, false, {file}, {folder}}, {true, false, false, {folder}, {folder}},
        {false, true, false, {}, {}},
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
        const Licenses::Desktop desktop{
            .showItem = show, .openFolder = [&](const fs::path& item) { opened.push_back(item); }};
        Licenses::reveal(c.withResources ? std::optional(resources.path()) : std::nullopt, desktop);
        EXPECT_EQ(shown, c.shown) << c.withResources << c.withFile << c.fileManagerAnswers;
        EXPECT_EQ(opened, c.opened) << c.withResources << c.withFile << c.fileManagerAnswers;
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
