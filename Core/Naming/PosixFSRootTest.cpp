// Writing below a folder the user chose: the folder byte for byte, levels
// matched in any normal form, no links followed, no root made again.
#include <gtest/gtest.h>
#include <sys/mount.h>

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
using testing::filesBelow;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

const std::string nfdCard = "\u304F\u3099\u308B\u307E";  // くるま with a separate dakuten
const std::string nfcCard = "\u3050\u308B\u307E";
const std::string nfdArtist = "Beyonce\u0301";
const std::string nfcArtist = "Beyonc\u00E9";

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

PosixFS::Root rootOf(const fs::path& folder) {
    fs::create_directories(folder);
    return *PosixFS::rootAt(folder);
}

TEST(PosixFSRoot, AnNFDRootIsWrittenIntoAsItIs) {
    TempDir temp;
    writeFile(temp / "source", "data");
    const PosixFS::Root root = rootOf(temp / nfdCard);
    const fs::path written =
        PosixFS::copy(temp / "source", root, root.folder / ("MUSIC/" + nfdArtist + "/01.mp3"));

    EXPECT_EQ(written, temp / nfdCard / "MUSIC" / nfcArtist / "01.mp3");
    EXPECT_EQ(readFile(written), "data");
    // No twin of the card beside it; the level the copy made is in NFC.
    EXPECT_EQ(namesIn(temp.path()), (std::vector<std::string>{"source", nfdCard}));
    EXPECT_EQ(namesIn(temp / nfdCard / "MUSIC"), std::vector<std::string>{nfcArtist});
}

TEST(PosixFSRoot, LevelsAlreadyThereInNFDAreFoundAndReused) {
    TempDir temp;
    writeFile(temp / "source", "new");
    const PosixFS::Root root = rootOf(temp / "card");
    writeFile(temp / "card" / "MUSIC" / nfdArtist / "A" / (nfdCard + ".mp3"), "old");

    const std::string relative = "MUSIC/" + nfcArtist + "/A/" + nfcCard + ".mp3";
    const std::optional<PosixFS::Location> there = PosixFS::locate(root, relative);
    ASSERT_TRUE(there.has_value());
    EXPECT_TRUE(there->exists());
    EXPECT_EQ(there->path, temp / "card" / "MUSIC" / nfdArtist / "A" / (nfdCard + ".mp3"));

    const std::optional<PosixFS::Location> fresh =
        PosixFS::locate(root, "MUSIC/" + nfcArtist + "/B/" + nfdCard + ".mp3");
    ASSERT_TRUE(fresh.has_value());
    EXPECT_FALSE(fresh->exists());
    EXPECT_EQ(fresh->found, 2U);
    EXPECT_EQ(fresh->levels, 4U);
    EXPECT_EQ(fresh->path, temp / "card" / "MUSIC" / nfdArtist / "B" / (nfcCard + ".mp3"));

    PosixFS::copy(temp / "source", root, root.folder / relative);
    PosixFS::copy(temp / "source", root, root.folder / ("MUSIC/" + nfcArtist + "/B/1.mp3"));
    EXPECT_EQ(filesBelow(temp / "card"),
              (std::map<std::string, std::string>{
                  {"MUSIC/" + nfdArtist + "/A/" + nfdCard + ".mp3", "new"},
                  {"MUSIC/" + nfdArtist + "/B/1.mp3", "new"},
              }));
}

TEST(PosixFSRoot, NothingIsReachedThroughALinkOrOutsideTheRoot) {
    TempDir temp;
    writeFile(temp / "source", "data");
    writeFile(temp / "outside" / "keep", "mine");
    const PosixFS::Root root = rootOf(temp / "card");
    fs::create_directories(temp / "card" / "MUSIC");
    fs::create_directory_symlink(temp / "outside", temp / "card" / "MUSIC" / "Artist");
    writeFile(temp / "card" / "file", "");

    for (const std::string relative :
         {"MUSIC/Artist/01.mp3", "MUSIC/Artist/Album/01.mp3", "../outside/01.mp3",
          "MUSIC/../../outside/01.mp3", "./01.mp3", "file/01.mp3"}) {
        EXPECT_FALSE(PosixFS::locate(root, relative).has_value()) << relative;
        EXPECT_THROW(PosixFS::copy(temp / "source", root, root.folder / relative), ConversionError)
            << relative;
    }
    EXPECT_EQ(namesIn(temp / "outside"), std::vector<std::string>{"keep"});
    EXPECT_THROW(PosixFS::copy(temp / "source", root, temp / "elsewhere.mp3"), ConversionError);
    EXPECT_FALSE(fs::exists(temp / "elsewhere.mp3"));

    // A link as the last level counts as there; it is not written through.
    fs::create_symlink(temp / "outside" / "keep", temp / "card" / "MUSIC" / "01.mp3");
    EXPECT_TRUE(PosixFS::locate(root, "MUSIC/01.mp3")->exists());
}

TEST(PosixFSRoot, AGoneRootIsNeverMadeAgain) {
    TempDir temp;
    writeFile(temp / "source", "data");
    const PosixFS::Root root = rootOf(temp / "card");
    EXPECT_TRUE(PosixFS::isPresent(root));
    fs::remove(temp / "card");
    EXPECT_FALSE(PosixFS::isPresent(root));
    EXPECT_FALSE(PosixFS::rootAt(temp / "card").has_value());
    EXPECT_THROW(PosixFS::copy(temp / "source", root, temp / "card" / "A" / "01.mp3"),
                 ConversionError);
    EXPECT_FALSE(fs::exists(temp / "card"));

    // The same path on another device is another folder.
    fs::create_directory(temp / "card");
    EXPECT_TRUE(PosixFS::isPresent(root));
    PosixFS::Root moved = root;
    ++moved.device;
    EXPECT_FALSE(PosixFS::isPresent(moved));
    EXPECT_THROW(PosixFS::makeDirs(moved, "A"), ConversionError);
    EXPECT_EQ(namesIn(temp / "card"), std::vector<std::string>{});
}

// A tmpfs with room for three inodes: the root folder and two more.
class FewInodes : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directory(volume_);
        if (::mount("tmpfs", volume_.c_str(), "tmpfs", 0, "size=256k,nr_inodes=3") != 0) {
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

TEST_F(FewInodes, AFolderWithoutRoomIsNoSpace) {
    writeFile(temp_ / "source", "data");
    const PosixFS::Root root = *PosixFS::rootAt(volume_);
    PosixFS::copy(temp_ / "source", root, volume_ / "A" / "01.mp3");
    EXPECT_THROW(PosixFS::copy(temp_ / "source", root, volume_ / "B" / "C" / "01.mp3"),
                 PosixFS::NoSpace);
    EXPECT_THROW(PosixFS::makeDirs(volume_ / "D" / "E"), PosixFS::NoSpace);
    EXPECT_THROW(PosixFS::copy(temp_ / "source", volume_ / "F" / "01.mp3"), PosixFS::NoSpace);
}

}  // namespace
}  // namespace tarvik
