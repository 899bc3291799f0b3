#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include "App/Model/ExportDestination.hpp"
#include "Core/Testing/Mounting.hpp"
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

// A folder that takes no writes takes no run: a read-only mount (a card's
// write-protect switch, or a card the system mounted read-only after an
// error) refuses even the superuser, listed as a volume or not; a folder
// without write permission refuses everyone else.
TEST(ExportDestinationTest, FolderThatTakesNoWritesIsRefusedWithItsCause) {
    testing::TempDir dir;
    const std::filesystem::path card = dir / "card";
    std::filesystem::create_directories(card);
    std::string whyNot;
    const auto mounted = testing::Tmpfs::mount(card, "size=64k", whyNot, MS_RDONLY);
    if (!mounted) GTEST_SKIP() << whyNot;
    const std::string readOnly = "書き込めません: " + card.string() + "（読み取り専用です）";
    EXPECT_EQ(ExportDestination::refusal(card.string(), {}), readOnly);
    EXPECT_EQ(ExportDestination::refusal(card.string(), {{card, "CARD", 0, true}}), readOnly);
    if (::geteuid() != 0) {
        const std::filesystem::path locked = dir / "locked";
        std::filesystem::create_directories(locked);
        std::filesystem::permissions(
            locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        EXPECT_EQ(ExportDestination::refusal(locked.string(), {}),
                  "書き込めません: " + locked.string() + "（アクセスが許可されていません）");
    }
}

}  // namespace
}  // namespace tarvik
