#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>

#include "Core/Pipeline/LibraryScanner.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::writeFile;

// The audio files of a selection, relative to the music folder and joined by ';'.
std::string scan(const fs::path& music, const std::set<std::string>& selection,
                 std::stop_token stop = {}) {
    std::string found;
    for (const fs::path& file : LibraryScanner{music}.audioFiles(selection, std::move(stop))) {
        found += (found.empty() ? "" : ";") + file.lexically_relative(music).string();
    }
    return found;
}

// A link that leads back up, and a fan-out where each folder Level<n> holds a
// song and two links to Level<n+1>: walked once per path, the scan would
// take 2^24 descents. A pipe named like a song would block whoever opens it:
// only regular files are audio files, also behind a link. A selection in
// either normal form matches; the paths keep the disk's form.
TEST(LibraryScanner, EachRealFolderIsWalkedOnceAndOnlyRegularFilesAreAudio) {
    TempDir dir;
    const fs::path music = dir / "Music";
    writeFile(music / "A/X/1.mp3", "x");
    writeFile(music / "Cafe\u0301/Album/7.mp3", "x");
    writeFile(music / "A/Y/5.mp3", "x");
    writeFile(dir / "Elsewhere/6.mp3", "x");
    ASSERT_EQ(::mkfifo((music / "A/X/2.mp3").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    fs::create_symlink(dir / "pipe", music / "A/X/3.mp3");
    fs::create_symlink(music / "A/X/1.mp3", music / "A/X/4.mp3");
    fs::create_directory_symlink("../..", music / "A/X/up");  // back to the music folder
    fs::create_directory_symlink(dir / "Elsewhere", music / "A/X/linked");  // no cycle: walked
    constexpr int levels = 24;
    for (int level = 0; level <= levels; ++level) {
        const fs::path folder = dir / ("Level" + std::to_string(level));
        writeFile(folder / ("song" + std::to_string(level) + ".mp3"), "x");
        if (level == levels) continue;
        fs::create_directory_symlink(dir / ("Level" + std::to_string(level + 1)), folder / "left");
        fs::create_directory_symlink(dir / ("Level" + std::to_string(level + 1)), folder / "right");
    }
    fs::create_directories(music / "Artist");
    fs::create_directory_symlink(dir / "Level0", music / "Artist" / "fan-out");

    const auto started = std::chrono::steady_clock::now();
    const std::string found = scan(music, {});
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
    EXPECT_TRUE(found.starts_with("A/X/1.mp3;A/X/4.mp3;A/X/linked/6.mp3;A/Y/5.mp3;")) << found;
    EXPECT_TRUE(found.ends_with(";Cafe\u0301/Album/7.mp3")) << found;
    EXPECT_EQ(std::count(found.begin(), found.end(), ';'), 5 + levels);
    // Each song at its first place: through the "left" links.
    EXPECT_NE(found.find(";Artist/fan-out/left/left/song2.mp3;Artist/fan-out/left/song1.mp3;"),
              std::string::npos);
    EXPECT_EQ(scan(music, {"A/Y", "Caf\u00E9/Album"}), "A/Y/5.mp3;Cafe\u0301/Album/7.mp3");
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_EQ(scan(music, {}, stopped.get_token()), "");
}

// Artist folders named in Shift-JIS (a library copied from an older system)
// are not UTF-8: each keeps its own bytes, as a listed artist, as a selection
// and as a chosen folder, so that two of them never become one.
TEST(LibraryScanner, NamesThatAreNotUTF8KeepTheirBytes) {
    TempDir dir;
    const fs::path music = dir / "Music";
    const std::string first = "\x83\x65\x83\x58\x83\x67lib";   // "テスト" + "lib"
    const std::string second = "\x83\x65\x83\x58\x83\x5Elib";  // "テスタ" + "lib"
    writeFile(music / first / "Album" / "1.mp3", "x");
    writeFile(music / second / "Album" / "2.mp3", "x");
    writeFile(music / second / "\x8B\xC8" / "3.mp3", "x");
    EXPECT_EQ(LibraryScanner{music}.subfolderNames(), (std::vector<std::string>{second, first}));
    EXPECT_EQ(LibraryScanner{dir / "Gone"}.subfolderNames(), std::nullopt);
    EXPECT_EQ(scan(music, {first}), first + "/Album/1.mp3");
    EXPECT_EQ(scan(music, {second + "/\x8B\xC8"}), second + "/\x8B\xC8/3.mp3");
    EXPECT_EQ(LibraryScanner::detectLevel(music / second / "Album"),
              LibraryScanner::Level::albumFolder(music, second, "Album"));
}

// Links out of the library into the system: to "/" (which holds the library
// itself) and into the kernel's made-up file systems. None is entered, so
// planning does not read the system disk.
TEST(LibraryScanner, LinksToTheSystemAreNotEntered) {
    TempDir dir;
    const fs::path music = dir / "Music";
    writeFile(music / "A/X/1.mp3", "x");
    fs::create_directory_symlink("/", music / "A/root");
    for (const char* pseudo : {"/proc", "/sys", "/dev", "/proc/self/fd"}) {
        if (fs::is_directory(pseudo)) {
            fs::create_directory_symlink(pseudo, music / "A" / fs::path(pseudo).filename());
        }
    }
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(scan(music, {}), "A/X/1.mp3");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
}

}  // namespace
}  // namespace tarvik
