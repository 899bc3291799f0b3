#include <gtest/gtest.h>

#include "Core/SDCard/CardVolumes.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::SDCardTools {
namespace {

// Facts as a test states them, for any path.
struct StatedFacts final : VolumeFacts {
    explicit StatedFacts(std::optional<VolumeInfo> stated) : info(std::move(stated)) {}
    std::optional<VolumeInfo> volumeOf(const std::filesystem::path&) const override { return info; }
    std::optional<VolumeInfo> info;
};

// A card is a removable FAT or exFAT volume; a USB disk without the removable
// flag is none, nor is a live system's root on a removable stick. (The real
// exFAT card on a loop device is tried in the application's card test.)
TEST(CardVolumes, CardIsARemovableFatOrExfatVolumeButNeverTheRoot) {
    const std::vector<std::pair<std::optional<VolumeInfo>, bool>> cases = {
        {VolumeInfo{true, std::nullopt, "exfat"}, true},
        {VolumeInfo{false, false, "exfat"}, false},
        {VolumeInfo{true, true, "msdos"}, false},
        {VolumeInfo{true, false, "vfat"}, false},
        {std::nullopt, false}};
    for (const auto& [info, card] : cases) EXPECT_EQ(isCardVolume("/", StatedFacts(info)), card);
}

// A walk lists no folder once it is asked to stop: a large card through FUSE
// takes long enough to walk that a quit must not wait for its end.
TEST(CardVolumes, AStoppedWalkListsNoMoreFolders) {
    testing::TempDir temp;
    testing::writeFiles(temp.path(), {{"A/1.mp3", "1"}, {"A/B/2.mp3", "2"}});
    std::stop_source stopped;
    stopped.request_stop();
    const struct {
        std::stop_token stop;
        std::size_t found;
    } cases[] = {{{}, 4}, {stopped.get_token(), 0}};
    for (const auto& [stop, found] : cases) EXPECT_EQ(walk(temp.path(), stop).size(), found);
}

}  // namespace
}  // namespace tarvik::SDCardTools
