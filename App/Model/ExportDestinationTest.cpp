#include "App/Model/ExportDestination.hpp"

#include <gtest/gtest.h>

#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

TEST(ExportDestinationTest, OnlyAnExistingFolderThatIsNoEmptyMountFolderTakesARun) {
    testing::TempDir dir;
    const ExportDestination::MountBases bases{{dir / "mnt"}, {dir / "media"}};
    for (const char* folder : {"mnt/sd", "media/user/CARD", "home/music"}) {
        fs::create_directories(dir / folder);
    }
    const std::vector<Volume> mountedSd = {{dir / "mnt/sd", "sd", 0, true}};
    struct Case {
        std::string destPath;
        std::vector<Volume> volumes;
        bool usable;
    };
    const std::vector<Case> cases = {
        {"", {}, false},
        {(dir / "gone").string(), {}, false},
        {(dir / "home/music").string(), {}, true},
        // Folders where a card would be mounted, but nothing is.
        {(dir / "mnt/sd").string(), {}, false},
        {(dir / "mnt/sd/").string(), {}, false},
        {(dir / "media/user/CARD").string(), {}, false},
        // A listed volume is mounted, whatever the file system says.
        {(dir / "mnt/sd").string(), mountedSd, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExportDestination::isUsable(c.destPath, c.volumes, bases), c.usable)
            << c.destPath;
    }
}

TEST(ExportDestinationTest, AMountedFileSystemIsNoFormerVolumeRoot) {
    // /proc is mounted right below "/" on every Linux system.
    EXPECT_FALSE(ExportDestination::isFormerVolumeRoot("/proc", {{"/"}, {}}));
}

}  // namespace
}  // namespace tarvik
