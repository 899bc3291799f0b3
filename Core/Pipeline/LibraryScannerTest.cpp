#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "Core/Pipeline/LibraryScanner.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::writeFile;

// "Cafe" with a combining acute accent, as some file systems store it.
const std::string decomposedCafe = "Cafe\u0301";
const std::string composedCafe = "Caf\u00E9";

// A small music folder with every kind of entry the scanner must tell apart.
class LibraryScannerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* file :
             {"loose.mp3", "notes.txt", "A/loose-a.flac", "A/X/01 x.flac", "A/X/02 x.FLAC",
              "A/X/CD2/01 x2.mp3", "A/Y/01 y.m4a", "A/Y/notes.txt", "A/Y/noextension",
              "A/Y/a.flac.txt", "A/Y/._01 y.m4a", "A/.hidden/01 h.mp3", "A/Twonky/01 t.mp3",
              "A/Z/Twonky.flac", "B/10 ten.mp3", "B/2 two.mp3", "b-lower/1.wav", "Twonky/01.mp3",
              ".Trash/01.mp3"}) {
            writeFile(dir / file, "x");
        }
        writeFile(dir / decomposedCafe / "Album" / "1.aiff", "x");
    }

    std::vector<std::string> scan(const std::set<std::string>& selection) const {
        std::vector<std::string> relative;
        for (const fs::path& file : LibraryScanner{dir.path()}.audioFiles(selection)) {
            relative.push_back(file.lexically_relative(dir.path()).string());
        }
        return relative;
    }

    TempDir dir;
};

struct SelectionCase {
    std::string name;
    std::set<std::string> selection;
    std::vector<std::string> expected;
};

TEST_F(LibraryScannerFixture, AudioFilesFollowSelectionInWalkOrder) {
    const std::vector<SelectionCase> cases = {
        {"everything, loose files included, depth-first in name order",
         {},
         {
             "A/loose-a.flac",
             "A/X/01 x.flac",
             "A/X/02 x.FLAC",
             "A/X/CD2/01 x2.mp3",
             "A/Y/01 y.m4a",
             "A/Z/Twonky.flac",
             "B/10 ten.mp3",  // digits compare one at a time
             "B/2 two.mp3",
             "b-lower/1.wav",
             decomposedCafe + "/Album/1.aiff",
             "loose.mp3",
         }},
        {"one album: loose artist files stay out",
         {"A/X"},
         {"A/X/01 x.flac", "A/X/02 x.FLAC", "A/X/CD2/01 x2.mp3"}},
        {"a whole artist wins over its album entry",
         {"A", "A/X"},
         {"A/loose-a.flac", "A/X/01 x.flac", "A/X/02 x.FLAC", "A/X/CD2/01 x2.mp3", "A/Y/01 y.m4a",
          "A/Z/Twonky.flac"}},
        {"albums of two artists", {"A/Y", "B"}, {"A/Y/01 y.m4a", "B/10 ten.mp3", "B/2 two.mp3"}},
        {"missing artist and album contribute nothing", {"Nobody", "A/Nothing"}, {}},
        {"the skipped folder cannot be selected", {"Twonky"}, {}},
        {"a composed selection matches a decomposed folder, the path keeps the disk's form",
         {composedCafe + "/Album"},
         {decomposedCafe + "/Album/1.aiff"}},
        {"a decomposed selection matches as well",
         {decomposedCafe},
         {decomposedCafe + "/Album/1.aiff"}},
    };
    for (const SelectionCase& c : cases) {
        EXPECT_EQ(scan(c.selection), c.expected) << c.name;
    }
}

TEST_F(LibraryScannerFixture, SubfolderNamesAreVisibleFoldersInNfcAndNameOrder) {
    fs::create_directory_symlink(dir / "B", dir / "Linked");
    fs::create_directory_symlink(dir / "gone", dir / "Dangling");
    fs::create_symlink(dir / "loose.mp3", dir / "FileLink");
    EXPECT_EQ(LibraryScanner{dir.path()}.subfolderNames(),
              (std::vector<std::string>{"A", "B", "b-lower", composedCafe, "Linked"}));
}

TEST(LibraryScanner, LinkCycleEndsTheDescentAndListsEveryFileOnce) {
    TempDir dir;
    const fs::path music = dir / "Music";
    writeFile(music / "A/X/1.mp3", "x");
    writeFile(music / "A/X/2.mp3", "x");
    writeFile(music / "A/Y/3.mp3", "x");
    writeFile(dir / "Elsewhere/4.mp3", "x");
    fs::create_directory_symlink("../..", music / "A/X/up");   // back to the music folder
    fs::create_directory_symlink("..", music / "A/Y/parent");  // back to the artist
    fs::create_directory_symlink(".", music / "A/Y/self");     // to itself
    fs::create_directory_symlink(dir / "Elsewhere", music / "A/X/linked");  // no cycle: walked

    const auto started = std::chrono::steady_clock::now();
    std::vector<std::string> found;
    for (const fs::path& file : LibraryScanner{music}.audioFiles({})) {
        found.push_back(file.lexically_relative(music).string());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_EQ(found, (std::vector<std::string>{"A/X/1.mp3", "A/X/2.mp3", "A/X/linked/4.mp3",
                                               "A/Y/3.mp3"}));
}

// Each folder Level<n> holds a song and two links to Level<n+1>: walked once
// per path, the scan would take 2^24 descents.
TEST(LibraryScanner, LinkedFanOutIsWalkedOncePerRealFolder) {
    TempDir dir;
    const fs::path music = dir / "Music";
    constexpr int levels = 24;
    for (int level = 0; level <= levels; ++level) {
        const fs::path folder = dir / ("Level" + std::to_string(level));
        writeFile(folder / ("song" + std::to_string(level) + ".mp3"), "x");
        if (level == levels) continue;
        const fs::path next = dir / ("Level" + std::to_string(level + 1));
        fs::create_directory_symlink(next, folder / "left");
        fs::create_directory_symlink(next, folder / "right");
    }
    fs::create_directories(music / "Artist");
    fs::create_directory_symlink(dir / "Level0", music / "Artist" / "fan-out");

    const auto started = std::chrono::steady_clock::now();
    const std::vector<fs::path> found = LibraryScanner{music}.audioFiles({});
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    ASSERT_EQ(found.size(), static_cast<std::size_t>(levels + 1));
    // At its first place: through the "left" links.
    EXPECT_EQ(found[levels - 2].lexically_relative(music), "Artist/fan-out/left/left/song2.mp3");

    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_TRUE(LibraryScanner{music}.audioFiles({}, stopped.get_token()).empty());
}

// A pipe named like a song would block whoever opens it; only regular files
// are audio files, also behind a link.
TEST(LibraryScanner, OnlyRegularFilesAreAudioFiles) {
    TempDir dir;
    const fs::path music = dir / "Music";
    writeFile(music / "A/X/1.mp3", "x");
    ASSERT_EQ(::mkfifo((music / "A/X/2.mp3").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    fs::create_symlink(dir / "pipe", music / "A/X/3.mp3");
    fs::create_symlink(music / "A/X/1.mp3", music / "A/X/4.mp3");
    std::vector<std::string> found;
    for (const fs::path& file : LibraryScanner{music}.audioFiles({})) {
        found.push_back(file.lexically_relative(music).string());
    }
    EXPECT_EQ(found, (std::vector<std::string>{"A/X/1.mp3", "A/X/4.mp3"}));
}

struct LevelCase {
    std::string name;
    std::vector<std::string> files;  // below the chosen folder "Music/Artist/Chosen"
    LibraryScanner::Level::Kind expected;
};

TEST(LibraryScanner, DetectLevelJudgesTheChosenFolder) {
    using Kind = LibraryScanner::Level::Kind;
    const std::vector<LevelCase> cases = {
        {"audio files, no sub-folders", {"1.mp3", "2.flac"}, Kind::album},
        {"hidden sub-folders do not count", {"1.mp3", ".thumbs/a.jpg"}, Kind::album},
        {"two of three sub-folders hold audio",
         {"a/1.mp3", "b/1.mp3", "c/cover.jpg"},
         Kind::artist},
        {"audio beside sub-folders: the sub-folder rule decides",
         {"1.mp3", "a/cover.jpg"},
         Kind::library},
        {"a sub-folder named like an audio file counts as audio",
         {"a/x.mp3/inner.txt", "b/1.mp3"},
         Kind::artist},
    };
    for (const LevelCase& c : cases) {
        TempDir dir;
        const fs::path chosen = dir / "Music" / composedCafe / "Chosen";
        fs::create_directories(chosen);
        for (const std::string& file : c.files) writeFile(chosen / file, "x");
        const LibraryScanner::Level level = LibraryScanner::detectLevel(chosen);
        EXPECT_EQ(level.kind, c.expected) << c.name;
    }
}

TEST(LibraryScanner, DetectLevelPayloadsAreNfcAndPathsLoseTrailingComponents) {
    TempDir dir;
    const fs::path artist = dir / "Music" / decomposedCafe;
    writeFile(artist / "Album" / "1.mp3", "x");
    writeFile(artist / "Other" / "1.mp3", "x");

    EXPECT_EQ(LibraryScanner::detectLevel(artist / "Album"),
              LibraryScanner::Level::albumFolder(dir / "Music", composedCafe, "Album"));
    EXPECT_EQ(LibraryScanner::detectLevel(artist / "Album/"),
              LibraryScanner::Level::albumFolder(dir / "Music", composedCafe, "Album"));
    EXPECT_EQ(LibraryScanner::detectLevel(artist),
              LibraryScanner::Level::artistFolder(dir / "Music", composedCafe));
    EXPECT_EQ(LibraryScanner::detectLevel(dir / "Music"), LibraryScanner::Level::library());
    EXPECT_EQ(LibraryScanner::detectLevel(dir / "missing"), LibraryScanner::Level::library());
}

}  // namespace
}  // namespace tarvik
