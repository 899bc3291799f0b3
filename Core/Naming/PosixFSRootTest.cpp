// Writing below a folder the user chose: nothing outside it, nothing through
// a link; and a folder without room is a full volume. What a run writes onto
// NFD-named and vanishing destinations is tested with the run.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::writeFile;

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
