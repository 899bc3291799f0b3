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
        {"removable vfat", VolumeInfo{true, false, "msdos"}, true},
        {"removable exfat", VolumeInfo{true, false, "exfat"}, true},
        {"root value unknown", VolumeInfo{true, std::nullopt, "exfat"}, true},
        {"type in other letter case", VolumeInfo{true, false, "MSDOS"}, false},
        {"kernel name not mapped", VolumeInfo{true, false, "vfat"}, false},
        {"removable ext4", VolumeInfo{true, false, "ext4"}, false},
        {"tmpfs", VolumeInfo{std::nullopt, false, "tmpfs"}, false},
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

TEST(CardVolumes, FreeBytes) {
    TempDir temp;
    EXPECT_EQ(freeBytes(temp / "missing"), unknownFreeBytes);
    EXPECT_EQ(unknownFreeBytes, 9223372036854775807);
    const std::int64_t free = freeBytes(temp.path());
    EXPECT_GT(free, 0);
    EXPECT_LT(free, unknownFreeBytes);
}

TEST(CardVolumes, ListNamesKeepsNamesAsStoredAndDropsDotEntries) {
    TempDir temp;
    const std::string notUTF8 = "bad\xff.mp3";
    const std::string decomposed = "\u30AB\u3099.mp3";
    for (const std::string& name : {std::string(".hidden"), notUTF8, decomposed}) {
        writeFile(temp / name, "x");
    }
    std::filesystem::create_directory(temp / "sub");
    std::vector<std::string> names = listNames(temp.path());
    std::ranges::sort(names);
    std::vector<std::string> expected = {".hidden", notUTF8, decomposed, "sub"};
    std::ranges::sort(expected);
    EXPECT_EQ(names, expected);
    EXPECT_TRUE(listNames(temp / "missing").empty());
    EXPECT_TRUE(listNames(temp / ".hidden").empty());  // a file
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

TEST(CardVolumes, WalkOfARootWithTrailingSlashDoublesTheSlash) {
    TempDir temp;
    writeFile(temp / "a.mp3", "a");
    const std::vector<Entry> entries = walk(temp.path().native() + "/");
    ASSERT_EQ(entries.size(), 1U);
    EXPECT_EQ(entries[0], (Entry{temp.path().native() + "//a.mp3", "a.mp3", false}));
    EXPECT_TRUE(walk(temp / "missing").empty());
}

TEST(CardVolumes, CardAudioFilesByExtension) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"01.mp3", true},   {"01.M4A", true},     {"01.WMA", true}, {"a.b.aac", true},
        {"01.flac", false}, {"cover.jpg", false}, {"mp3", false},   {".mp3", false},
        {"01.mp3.", false}, {"01.mp33", false},   {"01.Mp3", true}, {"", false},
    };
    for (const auto& [name, audio] : cases) EXPECT_EQ(isCardAudioFile(name), audio) << name;
}

TEST(CardVolumes, PathComponents) {
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        // path, parent, last
        {"/x/Export", "/x", "Export"}, {"/x/Export/", "/x", "Export"},
        {"/Album", "/", "Album"},      {"/", "/", "/"},
        {"Album", "", "Album"},        {"a//b", "a", "b"},
    };
    for (const auto& [path, parent, last] : cases) {
        EXPECT_EQ(parentPath(path), parent) << path;
        EXPECT_EQ(lastComponent(path), last) << path;
    }
}

}  // namespace
}  // namespace tarvik::SDCardTools
