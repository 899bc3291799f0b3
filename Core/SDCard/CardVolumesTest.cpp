#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "Core/SDCard/CardVolumes.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::SDCardTools {
namespace {

using testing::TempDir;
using testing::writeFile;

// Facts as a test states them, for any path.
class StatedFacts final : public VolumeFacts {
public:
    explicit StatedFacts(std::optional<VolumeInfo> info) : info_(std::move(info)) {}
    std::optional<VolumeInfo> volumeOf(const std::filesystem::path&) const override {
        return info_;
    }

private:
    std::optional<VolumeInfo> info_;
};

TEST(CardVolumes, CardIsRemovableNotRootAndFatOrExfat) {
    struct Case {
        std::string what;
        std::optional<VolumeInfo> info;
        bool card;
    };
    const std::vector<Case> cases = {
        {"removable exfat", VolumeInfo{true, false, "exfat"}, true},
        {"root value unknown", VolumeInfo{true, std::nullopt, "exfat"}, true},
        {"kernel name not mapped", VolumeInfo{true, false, "vfat"}, false},
        {"fixed exfat disk", VolumeInfo{false, false, "exfat"}, false},
        {"root file system said removable", VolumeInfo{true, true, "msdos"}, false},
        {"facts unreadable", std::nullopt, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isCardVolume("/any", StatedFacts(c.info)), c.card) << c.what;
    }
}

TEST(CardVolumes, MachinesOwnFoldersAreNoCards) {
    TempDir temp;
    EXPECT_FALSE(isCardVolume("/"));
    EXPECT_FALSE(isCardVolume(temp.path()));
    EXPECT_FALSE(isCardVolume("/dev/shm"));
    EXPECT_FALSE(isCardVolume(temp / "missing"));
}

TEST(CardVolumes, WalkListsHiddenFilesButNeverHiddenFolders) {
    TempDir temp;
    writeFile(temp / "Artist" / "Album" / "01.mp3", "a");
    writeFile(temp / "Artist" / "Album" / "._01.mp3", "b");
    writeFile(temp / ".Spotlight-V100" / "store.db", "c");
    writeFile(temp / "top.txt", "d");
    std::filesystem::create_directory_symlink(temp / "Artist", temp / "link");
    std::filesystem::create_symlink(temp / "nowhere", temp / "dangling");

    const std::string root = temp.path().native();
    std::map<std::string, bool> found;
    for (const Entry& entry : walk(root)) {
        ASSERT_TRUE(entry.path.native().starts_with(root + "/"));
        const std::string below = entry.path.native().substr(root.size() + 1);
        EXPECT_TRUE(below.ends_with(entry.name));
        found[below] = entry.isDir;
    }
    const std::map<std::string, bool> expected = {
        {"Artist", true},
        {"Artist/Album", true},
        {"Artist/Album/01.mp3", false},
        {"Artist/Album/._01.mp3", false},
        {"top.txt", false},
        {"link", false},
        {"dangling", false},
    };
    EXPECT_EQ(found, expected);
}

TEST(CardVolumes, CardAudioFilesByExtension) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"01.M4A", true}, {"a.b.aac", true}, {"01.flac", false}, {".mp3", false}, {"01.mp33", false},
    };
    for (const auto& [name, audio] : cases) EXPECT_EQ(isCardAudioFile(name), audio) << name;
}

}  // namespace
}  // namespace tarvik::SDCardTools
