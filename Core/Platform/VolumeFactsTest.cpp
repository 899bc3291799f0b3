#include <gtest/gtest.h>

#include "Core/Platform/VolumeFacts.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using testing::missingProgram;
using testing::runCommand;
using testing::TempDir;
using testing::writeFile;

TEST(VolumeFacts, ParsesMountInfoLines) {
    const std::string table =
        "27 1 254:0 / / rw,relatime shared:1 - ext4 /dev/vda rw\n"
        "45 27 8:17 / /media/u/MY\\040CARD rw,nosuid shared:7 master:2 - vfat /dev/sdb1 rw\n"
        "46 27 7:0 / /mnt/x rw - fuseblk /dev/loop0 rw,user_id=0\n"
        "48 27 254:0 /srv/a\\040b /data rw - ext4 /dev/vda rw\n"
        "garbage line\n"
        "47 27 0:30 / /tmp rw - tmpfs tmpfs rw";  // no final newline
    const std::vector<MountEntry> expected = {
        {254, 0, "/", "ext4", "/dev/vda"},
        {8, 17, "/media/u/MY CARD", "vfat", "/dev/sdb1"},
        {7, 0, "/mnt/x", "fuseblk", "/dev/loop0"},
        {254, 0, "/data", "ext4", "/dev/vda", "/srv/a b"},  // a bound folder
        {0, 30, "/tmp", "tmpfs", "tmpfs"},
    };
    EXPECT_EQ(parseMountInfo(table), expected);
}

// Formats an 8 MB image file; false when the formatting program is missing.
bool makeImage(const std::filesystem::path& image, const std::string& mkfs) {
    return runCommand({"truncate", "-s", "8M", image.string()}).exitCode == 0 &&
           runCommand({mkfs, image.string()}).exitCode == 0;
}

// The machine's mount table, /sys/dev/block and udev records, stood in for
// below a temporary folder.
struct FakeMachine {
    TempDir temp;
    SystemVolumeFacts facts{{.mountInfo = temp / "mountinfo",
                             .blockDevices = temp / "sys/dev/block",
                             .udevData = temp / "udev",
                             .rootFolder = "/proc"}};
};

TEST(VolumeFacts, RemovableFromTheDiskOrTheCardSlotNeverFromTheBus) {
    const std::vector<std::tuple<std::string, std::string, bool, bool>> cases = {
        {"pci0000:00/usb1/1-1/1-1:1.0/host6/block/sdb/sdb1", "0", false, true},  // USB hard disk
        {"pci0000:00/usb1/1-2/1-2:1.0/host7/block/sdc/sdc1", "1", true, true},   // USB stick
        {"pci0000:00/usb2/2-1/2-1:1.0/host8/block/sdd", "1", true, true},  // SD reader, no table
        {"pci0000:00/ata1/host0/block/sda/sda1", "1", true, true},         // the disk's own flag
        {"pci0000:00/ata1/host0/block/sda/sda2", "0", false, false},
        {"platform/mmc0/mmc_host/mmc0/block/mmcblk0/mmcblk0p1", "0", true, true},
        {"virtual/block/loop3", "0", false, false},
    };
    for (const auto& [devicePath, flag, removable, ejectable] : cases) {
        FakeMachine machine;
        const auto device = machine.temp / "sys/devices" / devicePath;
        const bool partition = device.parent_path().filename() != "block";
        std::filesystem::create_directories(device);
        std::filesystem::create_directories(machine.temp / "sys/dev/block");
        if (partition) writeFile(device / "partition", "1\n");
        writeFile((partition ? device.parent_path() : device) / "removable", flag + "\n");
        std::filesystem::create_symlink("../../devices/" + devicePath,
                                        machine.temp / "sys/dev/block/8:1");
        const VolumeInfo info = machine.facts.mountFacts({8, 1, "/media/c", "vfat", "/dev/x"});
        EXPECT_EQ(info.removable, removable) << devicePath;
        EXPECT_EQ(info.ejectable, ejectable) << devicePath;
        EXPECT_EQ(info.fileSystemType, "msdos");
    }
}

// udev's record first, then the boot sector of the device (here real images);
// an NTFS stick, say, tells nothing.
TEST(VolumeFacts, FuseBlockMountTakesTheTypeOfItsDevice) {
    FakeMachine machine;
    const auto image = [&](const char* name) { return (machine.temp / name).string(); };
    const std::string missing = missingProgram({"/usr/sbin/mkfs.exfat", "/usr/sbin/mkfs.fat"});
    if (!missing.empty()) GTEST_SKIP() << missing;
    ASSERT_TRUE(makeImage(image("exfat.img"), "/usr/sbin/mkfs.exfat"));
    ASSERT_TRUE(makeImage(image("fat.img"), "/usr/sbin/mkfs.fat"));
    writeFile(image("zeros.img"), std::string(4096, '\0'));
    writeFile(machine.temp / "udev/b7:1", "S:disk/by-uuid/x\nE:ID_FS_TYPE=exfat\n");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/dev/none", "exfat"},  // from udev
        {image("exfat.img"), "exfat"},
        {image("fat.img"), "msdos"},
        {image("zeros.img"), "fuseblk"},
        {image("missing.img"), "fuseblk"},
        {machine.temp.path().string(), "fuseblk"},  // a folder
    };
    unsigned minor = 1;
    for (const auto& [source, type] : cases) {
        EXPECT_EQ(
            machine.facts.mountFacts({7, minor++, "/mnt/x", "fuseblk", source}).fileSystemType,
            type)
            << source;
    }
}

TEST(VolumeFacts, DeepestMountOfTheDeviceHoldsThePath) {
    FakeMachine machine;
    const std::string volume = machine.temp.path().string();
    writeFile(machine.temp / "mountinfo", "1 0 0:1 / / rw - ext4 /dev/vda rw\n2 1 0:2 / " + volume +
                                              " rw - tmpfs tmpfs rw\n3 1 0:2 / " + volume +
                                              "/inner rw - vfat /dev/sdb1 rw\n");
    std::filesystem::create_directories(machine.temp / "inner" / "deeper");
    // The folders' real device is neither 0:1 nor 0:2: the deepest mount point
    // above each is the one to believe.
    EXPECT_EQ(machine.facts.volumeOf(volume)->fileSystemType, "tmpfs");
    EXPECT_EQ(machine.facts.volumeOf(volume + "/inner")->fileSystemType, "msdos");
    EXPECT_EQ(machine.facts.volumeOf(volume + "/inner/deeper")->fileSystemType, "msdos");
}

TEST(VolumeFacts, TheMachinesRootIsTheRootFileSystem) {
    EXPECT_EQ(systemVolumeFacts().volumeOf("/")->rootFileSystem, true);
    const std::optional<VolumeInfo> proc = systemVolumeFacts().volumeOf("/proc/self");
    ASSERT_TRUE(proc.has_value());
    EXPECT_EQ(proc->fileSystemType, "proc");
    EXPECT_EQ(proc->rootFileSystem, false);
}

}  // namespace
}  // namespace tarvik
