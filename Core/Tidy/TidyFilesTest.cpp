#include <gtest/gtest.h>

#include "Core/Platform/Errors.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyApplier.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::filesBelow;
using testing::readFile;
using testing::writeFile;

TEST(TidyFiles, MoveNeverReplacesAFile) {
    TempDir dir;
    writeFile(dir / "a/song.mp3", "mine");
    writeFile(dir / "a/Song.mp3", "another");
    writeFile(dir / "a/other.mp3", "other");
    try {
        TidyApplier::move(dir / "a/song.mp3", dir / "a/Song.mp3");
        FAIL() << "moved onto another file";
    } catch (const ConversionError& error) {
        EXPECT_STREQ(error.what(), "移動先に同じ名前のファイルがあります: Song.mp3");
    }
    EXPECT_THROW(TidyApplier::move(dir / "a/other.mp3", dir / "a/Song.mp3"), ConversionError);
    EXPECT_EQ(filesBelow(dir.path()),
              (std::map<std::string, std::string>{
                  {"a/song.mp3", "mine"}, {"a/Song.mp3", "another"}, {"a/other.mp3", "other"}}));
}

TEST(TidyFiles, LetterCaseMoveGoesThroughAStopover) {
    TempDir dir;
    writeFile(dir / "a/song.mp3", "mine");
    TidyApplier::move(dir / "a/song.mp3", dir / "a/Song.mp3");
    TidyApplier::move(dir / "a/Song.mp3", dir / "a/Song.mp3");  // the same path: nothing
    EXPECT_EQ(filesBelow(dir.path()),
              (std::map<std::string, std::string>{{"a/Song.mp3", "mine"}}));
    EXPECT_THROW(TidyApplier::move(dir / "a/gone.mp3", dir / "b/gone.mp3"), ConversionError);
}

TEST(TidyFiles, EnsureFoldersFindsOrMakesEachFolder) {
    TempDir dir;
    writeFile(dir / "Artist/Album/x.mp3", "x");
    writeFile(dir / "Cafe\u0301/keep.mp3", "k");
    TidyApplier::ensureFolders(dir.path(), "Artist/album/y.mp3", false);
    EXPECT_TRUE(fs::is_directory(dir / "Artist/album"));  // case counts here: a new folder
    TidyApplier::ensureFolders(dir.path(), "Caf\u00E9/New/y.mp3", false);
    EXPECT_TRUE(fs::is_directory(dir / "Cafe\u0301/New"));  // the same name in NFD
    EXPECT_FALSE(fs::exists(dir / "Caf\u00E9"));
    TidyApplier::ensureFolders(dir.path(), "y.mp3", false);

    // Where case does not count, the folder is renamed instead.
    TempDir other;
    writeFile(other / "Artist/Album/x.mp3", "x");
    TidyApplier::ensureFolders(other.path(), "Artist/album/y.mp3", true);
    EXPECT_EQ(filesBelow(other.path()),
              (std::map<std::string, std::string>{{"Artist/album/x.mp3", "x"}}));
    EXPECT_FALSE(TidyApplier::ignoresCase(other.path()));  // the temporary folder's own
}

TEST(TidyFiles, RemovesOnlyFoldersLeftEmpty) {
    TempDir dir;
    fs::create_directories(dir / "a/b/c");
    writeFile(dir / "a/b/.DS_Store", "");
    writeFile(dir / "d/._x", "");
    writeFile(dir / "e/f/keep.mp3", "");
    fs::create_directories(dir / "e/g");
    TidyApplier::removeEmptyFolders(
        {dir / "a/b/c", dir / "d", dir / "e/g", dir.path(), "/tmp"}, dir.path());
    EXPECT_FALSE(fs::exists(dir / "a"));
    EXPECT_TRUE(fs::exists(dir / "d/._x"));
    EXPECT_TRUE(fs::exists(dir / "e/f/keep.mp3"));
    EXPECT_FALSE(fs::exists(dir / "e/g"));
    EXPECT_TRUE(fs::exists(dir.path()));
    TidyApplier::removeEmptyFolders({dir / "d", dir / "e/f"}, dir / "e/f");  // root kept
    EXPECT_TRUE(fs::exists(dir / "e/f"));
}

TEST(TidyFiles, PathsFromFilesStayInside) {
    for (const char* bad : {"", "/etc/passwd", "../x.mp3", "a/../../x.mp3", "a/./x.mp3", "a//x.mp3",
                            "a/", "..", "a/\xFF.mp3"}) {
        EXPECT_FALSE(TidyApplier::inside("/m", bad)) << bad;
    }
    EXPECT_EQ(TidyApplier::inside("/m", "a/b.mp3"), fs::path("/m/a/b.mp3"));
    EXPECT_EQ(TidyApplier::inside("/m", "a..b/.c.mp3"), fs::path("/m/a..b/.c.mp3"));
}

}  // namespace
}  // namespace tarvik
