#include <gtest/gtest.h>

#include "App/Model/ExportDestination.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

// A folder where a card would be mounted, empty, with nothing mounted, takes
// no run and says so; a listed volume is mounted, whatever the file system
// says; a plain folder with files in it takes a run wherever it lies.
TEST(ExportDestinationTest, OnlyAnExistingFolderThatIsNoEmptyMountFolderTakesARun) {
    testing::TempDir dir;
    const ExportDestination::MountBases bases{{dir / "mnt"}, {dir / "media"}};
    for (const char* folder : {"mnt/sd", "media/user/CARD", "home/music", "mnt/export/A"})
        std::filesystem::create_directories(dir / folder);
    const std::vector<Volume> mountedSd = {{dir / "mnt/sd", "sd", 0, true}};
    const std::string notFound(ExportDestination::notFound);
    const std::string notConnected(ExportDestination::notConnected);
    const std::vector<std::tuple<std::string, std::vector<Volume>, std::optional<std::string>>>
        cases = {
            {"", {}, notFound},
            {"gone", {}, notFound},
            {"home/music", {}, std::nullopt},
            {"mnt/sd", {}, notConnected},
            {"mnt/sd/", {}, notConnected},
            {"media/user/CARD", {}, notConnected},
            {"mnt/sd", mountedSd, std::nullopt},
            {"mnt/export", {}, std::nullopt},
        };
    for (const auto& [folder, volumes, why] : cases) {
        const std::string destPath = folder.empty() ? "" : (dir / folder).string();
        EXPECT_EQ(ExportDestination::refusal(destPath, volumes, bases), why) << folder;
    }
    // /proc is mounted right below "/" on every Linux system.
    EXPECT_FALSE(ExportDestination::isFormerVolumeRoot("/proc", {{"/"}, {}}));
}

}  // namespace
}  // namespace tarvik
