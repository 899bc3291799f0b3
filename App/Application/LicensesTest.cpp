#include <fstream>

#include <gtest/gtest.h>

#include "App/Application/Licenses.hpp"
#include "App/Platform/AppPaths.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

struct RecordingDesktop {
    bool fileManagerAnswers = true;
    std::vector<fs::path> shown;
    std::vector<fs::path> opened;

    Licenses::Desktop desktop() {
        return {.showItem = [this](const fs::path& item) {
                    shown.push_back(item);
                    return fileManagerAnswers;
                },
                .openFolder = [this](const fs::path& folder) { opened.push_back(folder); }};
    }
};

TEST(LicensesTest, RevealsTheFileOrItsFolderOrOpensTheFolder) {
    testing::TempDir resources;
    const fs::path folder = resources.path() / "Licenses";
    const fs::path file = folder / "はじめにお読みください（ライセンス）.txt";
    fs::create_directories(folder);

    const struct {
        bool withFile;
        bool fileManagerAnswers;
        std::vector<fs::path> shown;
        std::vector<fs::path> opened;
    } cases[] = {
        {true, true, {file}, {}},
        {false, true, {folder}, {}},
        {true, false, {file}, {folder}},
        {false, false, {folder}, {folder}},
    };
    for (const auto& c : cases) {
        if (c.withFile)
            std::ofstream(file) << "ライセンス\n";
        else
            fs::remove(file);
        RecordingDesktop desktop;
        desktop.fileManagerAnswers = c.fileManagerAnswers;
        Licenses::reveal(resources.path(), desktop.desktop());
        EXPECT_EQ(desktop.shown, c.shown) << c.withFile << c.fileManagerAnswers;
        EXPECT_EQ(desktop.opened, c.opened) << c.withFile << c.fileManagerAnswers;
    }
}

TEST(LicensesTest, WithoutResourcesNothingHappens) {
    RecordingDesktop desktop;
    Licenses::reveal(std::nullopt, desktop.desktop());
    EXPECT_TRUE(desktop.shown.empty());
    EXPECT_TRUE(desktop.opened.empty());
}

// The delivered folder holds the file the menu reveals and every text it names.
TEST(LicensesTest, TheDeliveredFileNamesOnlyTextsThatAreThere) {
    const auto item = Licenses::itemToReveal(AppPaths::resourcesDirectory());
    ASSERT_TRUE(item.has_value());
    ASSERT_EQ(item->filename(), "はじめにお読みください（ライセンス）.txt");
    std::ifstream in(*item);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (const char* name : {"Qt.txt", "ICU.txt", "libcurl.txt", "SQLite.txt", "nlohmann-json.txt", "TagLib.txt",
                             "libcanberra.txt", "FFmpeg.txt", "LAME.txt"}) {
        EXPECT_NE(text.find(name), std::string::npos) << name;
        EXPECT_GT(fs::file_size(item->parent_path() / name), 500U) << name;
    }
}

}  // namespace
}  // namespace tarvik
