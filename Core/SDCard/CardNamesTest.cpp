#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "Core/Platform/Errors.hpp"
#include "Core/SDCard/CardNames.hpp"
#include "Core/SDCard/CardVolumes.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::SDCardTools {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

const std::string pad = "\u3000";
const std::string composedGa = "\u30AC";
const std::string decomposedGa = "\u30AB\u3099";

std::vector<std::string> sortedNames(const std::filesystem::path& folder) {
    std::vector<std::string> names = listNames(folder);
    std::ranges::sort(names);
    return names;
}

TEST(CardNames, SafeNames) {
    struct Case {
        std::string name;
        bool isDir;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"Song\u301C1.MP3", false, "Song~1.MP3"},  // the extension keeps its capitals
        {"Caf\u00E9.flac", false, "Caf_.flac"},
        {"Caf\u00E9.\u00E9", false, "Caf_.\u00E9"},  // the extension is never mapped
        {"noext\u301C", false, "noext~"},
        {"\u3042.mp3", false, "\u3042.mp3"},  // files are never padded
        {"\u3042", true, "\u3042" + pad + pad + pad + pad},
        {"B\u301C", true, "B~"},  // all ASCII after mapping: no padding
        {"Caf\u00E9", true, "Caf_"},
        {decomposedGa + ".mp3", false, composedGa + ".mp3"},
        {"bad\xff.mp3", false, "bad_.mp3"},
        {".DS_Store", false, ".DS_Store"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(safeName(c.name, c.isDir), c.expected) << c.name;
    }
}

TEST(CardNames, CardPaths) {
    EXPECT_EQ(cardRelativePath("/Artist//Album/"), cardRelativePath("Artist/Album"));
    EXPECT_EQ(cardRelativePath("Artist/Album"), "Artist/Album");
    EXPECT_EQ(cardRelativePath(""), "");
    EXPECT_EQ(cardRelativePath("///"), "");
    EXPECT_EQ(cardRelativePath("\u3042/Best\u301C"), "\u3042" + pad + pad + pad + pad + "/Best~");
    EXPECT_EQ(cardFilePath("a.mp3"), "a.mp3");
    EXPECT_EQ(cardFilePath("Artist/Album/01 x.mp3"), "Artist/Album/01 x.mp3");
    EXPECT_EQ(cardFilePath("\u3042/01\u301C.mp3"),
              "\u3042" + pad + pad + pad + pad + "/01\u301C.mp3");
}

TEST(CardNames, RenameChangesOnlyTheLetterCase) {
    TempDir temp;
    writeFile(temp / "ABC.mp3", "music");
    renameOnCard(temp / "ABC.mp3", "abc.mp3");
    EXPECT_EQ(sortedNames(temp.path()), std::vector<std::string>{"abc.mp3"});
    EXPECT_EQ(readFile(temp / "abc.mp3"), "music");
}

TEST(CardNames, RenameRefusesANameTakenIgnoringCaseAndNormalisation) {
    struct Case {
        std::string existing;
        std::string newName;
    };
    const std::vector<Case> cases = {
        {"y.MP3", "Y.mp3"},
        {composedGa + ".mp3", decomposedGa + ".MP3"},
    };
    for (const Case& c : cases) {
        TempDir temp;
        writeFile(temp / "x.mp3", "x");
        writeFile(temp / c.existing, "y");
        try {
            renameOnCard(temp / "x.mp3", c.newName);
            ADD_FAILURE() << "no clash for " << c.newName;
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.description(), "同じ名前のファイルがあります: " + c.newName);
        }
        std::vector<std::string> expected = {"x.mp3", c.existing};
        std::ranges::sort(expected);
        EXPECT_EQ(sortedNames(temp.path()), expected);
    }
}

TEST(CardNames, FailedFinalStepRestoresTheNameExactlyAsItWas) {
    TempDir temp;
    const std::string old = decomposedGa + ".mp3";
    writeFile(temp / old, "music");
    // Too long for any Linux file system: only the final step can fail on it.
    const std::string tooLong = std::string(300, 'a') + ".mp3";
    try {
        renameOnCard(temp / old, tooLong);
        ADD_FAILURE() << "no error";
    } catch (const ConversionError& error) {
        EXPECT_TRUE(
            std::string(error.what()).starts_with("名前を付けられません: " + tooLong + "（"))
            << error.what();
    }
    // Not the NFC form of the old name, and no temporary name left.
    EXPECT_EQ(sortedNames(temp.path()), std::vector<std::string>{old});
    EXPECT_EQ(readFile(temp / old), "music");
}

TEST(CardNames, RenameInsideAFolderWhoseNameIsNotNFC) {
    TempDir temp;
    const auto folder = temp / decomposedGa;
    writeFile(folder / "x\u301C.mp3", "music");
    renameOnCard(folder / "x\u301C.mp3", "x~.mp3");
    EXPECT_EQ(sortedNames(folder), std::vector<std::string>{"x~.mp3"});
    EXPECT_EQ(sortedNames(temp.path()), std::vector<std::string>{decomposedGa});
}

}  // namespace
}  // namespace tarvik::SDCardTools
