#include <gtest/gtest.h>

#include "Core/SDCard/CardVolumes.hpp"

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

}  // namespace
}  // namespace tarvik::SDCardTools
