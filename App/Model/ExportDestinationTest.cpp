#include <gtest/gtest.h>

#include "App/Model/ExportDestination.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

// A folder where a card would be mounted, with nothing mounted, takes no run;
// a listed volume is mounted, whatever the file system says.
TEST(ExportDestinationTest, OnlyAnExistingFolderThatIsNoEmptyMountFolderTakesARun) {
    testing::TempDir dir;
    const ExportDestination::MountBases bases{{dir / "mnt"}, {dir / "media"}};
    for (const char* folder : {"mnt/sd", "media/user/CARD", "home/music"})
        std::filesystem::create_directories(dir / folder);
    const std::vector<Volume> mountedSd = {{dir / "mnt/sd", "sd", 0, true}};
    const std::vector<std::tuple<std::string, std::vector<Volume>, bool>> cases = {
        {"", {}, false},
        {"gone", {}, false},
        {"home/music", {}, true},
        {"mnt/sd", {}, false},
        {"mnt/sd/", {}, false},
        {"media/user/CARD", {}, false},
        {"mnt/sd", mountedSd, true},
    };
    for (const auto& [folder, volumes, usable] : cases) {
        const std::string destPath = folder.empty() ? "" : (dir / folder).string();
        EXPECT_EQ(ExportDestination::isUsable(destPath, volumes, bases), usable) << folder;
    }
    // /proc is mounted right below "/" on every Linux system.
    EXPECT_FALSE(ExportDestination::isFormerVolumeRoot("/proc", {{"/"}, {}}));
}

}  // namespace
}  // namespace tarvik
