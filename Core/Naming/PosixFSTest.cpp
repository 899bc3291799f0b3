#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

const std::string nfdName = "\u304F\u3099\u308B\u307E.mp3";  // くるま with a separate dakuten
const std::string nfcName = "\u3050\u308B\u307E.mp3";

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::string messageOf(auto&& operation) {
    try {
        operation();
    } catch (const ConversionError& error) {
        return error.what();
    }
    return "(no error)";
}

std::string someData(std::size_t length) {
    std::string data(length, '\0');
    for (std::size_t i = 0; i < length; ++i) data[i] = static_cast<char>((i * 7919) >> 3);
    return data;
}

TEST(PosixFS, CopyMakesFoldersAndReplacesTheTargetLeavingNoTemporary) {
    TempDir temp;
    writeFile(temp / "first", someData(3 * 1024 * 1024 + 17));
    writeFile(temp / "second", "short");
    const fs::path target = temp / "card" / "Artist" / "Album" / "01.mp3";

    PosixFS::copy(temp / "first", target);
    EXPECT_EQ(readFile(target), readFile(temp / "first"));
    struct stat status {};
    ASSERT_EQ(::stat((temp / "card" / "Artist").c_str(), &status), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(status.st_mode & 07777, 0755U & ~mask);

    PosixFS::copy(temp / "second", target);
    EXPECT_EQ(readFile(target), "short");
    EXPECT_EQ(namesIn(target.parent_path()), std::vector<std::string>{"01.mp3"});
}

TEST(PosixFS, TargetIsWrittenUnderItsNFCName) {
    TempDir temp;
    writeFile(temp / "source", "data");
    PosixFS::copy(temp / "source", temp / "out" / nfdName);
    EXPECT_EQ(namesIn(temp / "out"), std::vector<std::string>{nfcName});
    PosixFS::rename(temp / "out" / nfcName, temp / "out" / ("2-" + nfdName));
    EXPECT_EQ(namesIn(temp / "out"), std::vector<std::string>{"2-" + nfcName});
}

TEST(PosixFS, NameThatIsNotUTF8IsKeptAsItsBytes) {
    TempDir temp;
    writeFile(temp / "source", "data");
    const std::string latin1 = "caf\xE9.mp3";
    PosixFS::copy(temp / "source", temp / latin1);
    EXPECT_EQ(readFile(temp / latin1), "data");
}

TEST(PosixFS, FailuresNameTheFileAndLeaveNoTemporary) {
    TempDir temp;
    writeFile(temp / "source", "data");
    fs::create_directories(temp / "out" / "taken.mp3" / "inside");
    fs::create_directory(temp / "folderSource");
    struct Case {
        std::string name;
        std::function<void()> operation;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"missing source", [&] { PosixFS::copy(temp / "missing", temp / "out" / nfdName); },
         fileSystemMessage("書き込めません: ", nfcName, ENOENT)},
        {"folder as source", [&] { PosixFS::copy(temp / "folderSource", temp / "out" / "a.mp3"); },
         fileSystemMessage("書き込めません: ", "a.mp3", EISDIR)},
        {"folder at the target",
         [&] { PosixFS::copy(temp / "source", temp / "out" / "taken.mp3"); },
         fileSystemMessage("名前を付けられません: ", "taken.mp3", EISDIR)},
        {"rename of a missing file",
         [&] { PosixFS::rename(temp / "missing", temp / "out" / nfdName); },
         fileSystemMessage("名前を付けられません: ", nfcName, ENOENT)},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(messageOf(test.operation), test.message) << test.name;
        EXPECT_EQ(namesIn(temp / "out"), std::vector<std::string>{"taken.mp3"}) << test.name;
    }
}

TEST(PosixFS, MakeDirsCreatesEveryLevelOrNamesTheFirstThatFails) {
    TempDir temp;
    PosixFS::makeDirs("");
    PosixFS::makeDirs("/");
    PosixFS::makeDirs(temp / "a" / "b" / nfdName);
    EXPECT_TRUE(PosixFS::isDirectory(temp / "a" / "b" / nfcName));
    PosixFS::makeDirs(temp.path().string() + "//a///b/");  // already there: nothing to do

    writeFile(temp / "file", "");
    EXPECT_EQ(messageOf([&] { PosixFS::makeDirs(temp / "file" / "x" / "y"); }),
              fileSystemMessage("フォルダを作れません: ", (temp / "file" / "x").string(), ENOTDIR));
}

TEST(PosixFS, RelativePathsCountFromTheWorkingFolder) {
    TempDir temp;
    const fs::path before = fs::current_path();
    fs::current_path(temp.path());
    writeFile(temp / "source", "data");
    PosixFS::makeDirs("made/here");
    PosixFS::copy("source", "copied.mp3");
    PosixFS::copy("source", "made/here/copied.mp3");
    fs::current_path(before);
    EXPECT_TRUE(PosixFS::isDirectory(temp / "made" / "here"));
    EXPECT_EQ(readFile(temp / "copied.mp3"), "data");
    EXPECT_EQ(readFile(temp / "made" / "here" / "copied.mp3"), "data");
}

TEST(PosixFS, QueriesLookAtTheNameItself) {
    TempDir temp;
    writeFile(temp / "empty", "");
    fs::create_directory(temp / "folder");
    fs::create_symlink(temp / "folder", temp / "link-to-folder");
    fs::create_symlink(temp / "nowhere", temp / "dangling");
    EXPECT_EQ(PosixFS::size(temp / "empty"), 0U);
    EXPECT_EQ(PosixFS::size(temp / "missing"), std::nullopt);
    EXPECT_TRUE(PosixFS::exists(temp / "dangling"));
    EXPECT_FALSE(PosixFS::isDirectory(temp / "link-to-folder"));
    EXPECT_TRUE(PosixFS::isDirectory(temp / "folder"));
}

// A real full volume: a 256 KiB tmpfs. Mounting needs privileges that CI may
// lack; then the test skips.
class SmallVolume : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(volume_);
        if (::mount("tmpfs", volume_.c_str(), "tmpfs", 0, "size=256k") != 0) {
            GTEST_SKIP() << "cannot mount a tmpfs here";
        }
        mounted_ = true;
    }
    void TearDown() override {
        if (mounted_) ::umount2(volume_.c_str(), MNT_DETACH);
    }

    TempDir temp_;
    fs::path volume_ = temp_ / "volume";
    bool mounted_ = false;
};

TEST_F(SmallVolume, CopyOntoAFullVolumeThrowsNoSpaceAndLeavesNothing) {
    writeFile(temp_ / "big", someData(1024 * 1024));
    writeFile(volume_ / "Album" / "keep.mp3", "already here");
    try {
        PosixFS::copy(temp_ / "big", volume_ / "Album" / "big.mp3");
        FAIL() << "no error";
    } catch (const PosixFS::NoSpace& error) {
        EXPECT_STREQ(error.what(), "空きがありません");
    }
    EXPECT_EQ(namesIn(volume_ / "Album"), std::vector<std::string>{"keep.mp3"});
    // The space the partial copy took is free again.
    writeFile(temp_ / "small", someData(100 * 1024));
    PosixFS::copy(temp_ / "small", volume_ / "Album" / "small.mp3");
    EXPECT_EQ(readFile(volume_ / "Album" / "small.mp3"), someData(100 * 1024));
}

}  // namespace
}  // namespace tarvik
