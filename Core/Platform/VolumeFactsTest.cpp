#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Core/Platform/VolumeFacts.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

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

// Formats a small image file; false when the formatting program is missing.
bool makeImage(const std::filesystem::path& image, std::vector<std::string> mkfs) {
    if (runCommand({"truncate", "-s", "8M", image.string()}).exitCode != 0) return false;
    mkfs.push_back(image.string());
    return runCommand(mkfs).exitCode == 0;
}

TEST(VolumeFacts, ProbesTheBootSectorOfRealImages) {
    TempDir temp;
    const auto exfat = temp / "exfat.img";
    const auto fat = temp / "fat.img";
    if (!makeImage(exfat, {"/usr/sbin/mkfs.exfat"}) || !makeImage(fat, {"/usr/sbin/mkfs.fat"})) {
        GTEST_SKIP() << "mkfs.exfat or mkfs.fat is not installed";
    }
    writeFile(temp / "zeros.img", std::string(4096, '\0'));
    EXPECT_EQ(probeFileSystem(exfat), "exfat");
    EXPECT_EQ(probeFileSystem(fat), "vfat");
    EXPECT_EQ(probeFileSystem(temp / "zeros.img"), std::nullopt);
    EXPECT_EQ(probeFileSystem(temp / "missing.img"), std::nullopt);
    EXPECT_EQ(probeFileSystem(temp.path()), std::nullopt);  // a folder
}

// A stand-in for /proc/self/mountinfo, /sys/dev/block and udev's records in
// which the temporary folder itself is the mount being asked about.
class FakeMachine {
public:
    FakeMachine() {
        struct stat status {};
        ::stat(temp_.path().c_str(), &status);
        device_ =
            std::to_string(::major(status.st_dev)) + ":" + std::to_string(::minor(status.st_dev));
        std::filesystem::create_directories(volume());
        std::filesystem::create_directories(temp_ / "sys" / "dev" / "block");
        std::filesystem::create_directories(temp_ / "udev");
    }

    std::filesystem::path volume() const { return temp_ / "volume"; }

    // The volume's block device lives at `devicePath` below the fake /sys.
    void blockDevice(const std::string& devicePath, const std::string& diskFlag) {
        const auto device = temp_ / "sys" / ("devices/" + devicePath);
        std::filesystem::create_directories(device);
        std::filesystem::path disk = device;
        if (device.parent_path().filename() != "block") {
            writeFile(device / "partition", "1\n");
            disk = device.parent_path();
        }
        writeFile(disk / "removable", diskFlag + "\n");
        std::filesystem::create_symlink("../../devices/" + devicePath,
                                        temp_ / "sys" / "dev" / "block" / device_);
    }

    void mount(const std::string& type, const std::string& source) {
        writeFile(temp_ / "mountinfo", "1 0 0:1 / / rw - ext4 /dev/vda rw\n2 1 " + device_ + " / " +
                                           volume().string() + " rw - " + type + " " + source +
                                           " rw\n");
    }

    void udevType(const std::string& type) {
        writeFile(temp_ / "udev" / ("b" + device_),
                  "S:disk/by-uuid/x\nE:ID_FS_TYPE=" + type + "\n");
    }

    std::optional<VolumeInfo> facts(const std::filesystem::path& root = "/proc",
                                    const std::filesystem::path& path = {}) const {
        SystemVolumeFacts system({.mountInfo = temp_ / "mountinfo",
                                  .blockDevices = temp_ / "sys" / "dev" / "block",
                                  .udevData = temp_ / "udev",
                                  .rootFolder = root});
        return system.volumeOf(path.empty() ? volume() : path);
    }

    const TempDir& temp() const { return temp_; }

private:
    TempDir temp_;
    std::string device_;
};

TEST(VolumeFacts, RemovableFromTheDiskOrTheCardSlotNeverFromTheBus) {
    struct Case {
        std::string devicePath;
        std::string flag;
        bool removable;
        bool ejectable;
    };
    const std::vector<Case> cases = {
        {"pci0000:00/usb1/1-1/1-1:1.0/host6/block/sdb/sdb1", "0", false, true},  // USB hard disk
        {"pci0000:00/usb1/1-2/1-2:1.0/host7/block/sdc/sdc1", "1", true, true},   // USB stick
        {"pci0000:00/usb2/2-1/2-1:1.0/host8/block/sdd", "1", true, true},  // SD reader, no table
        {"pci0000:00/ata1/host0/block/sda/sda1", "1", true, true},        // the disk's own flag
        {"pci0000:00/ata1/host0/block/sda/sda2", "0", false, false},
        {"platform/mmc0/mmc_host/mmc0/block/mmcblk0/mmcblk0p1", "0", true, true},
        {"virtual/block/loop3", "0", false, false},
    };
    for (const Case& c : cases) {
        FakeMachine machine;
        machine.blockDevice(c.devicePath, c.flag);
        machine.mount("vfat", "/dev/x");
        const std::optional<VolumeInfo> info = machine.facts();
        ASSERT_TRUE(info.has_value()) << c.devicePath;
        EXPECT_EQ(info->removable, c.removable) << c.devicePath;
        EXPECT_EQ(info->ejectable, c.ejectable) << c.devicePath;
        EXPECT_EQ(info->fileSystemType, "msdos");
    }
}

TEST(VolumeFacts, FuseBlockMountTakesTheTypeOfItsDevice) {
    {
        FakeMachine machine;
        machine.mount("fuseblk", "/dev/none");
        machine.udevType("exfat");
        EXPECT_EQ(machine.facts()->fileSystemType, "exfat");
    }
    {
        FakeMachine machine;
        const auto image = machine.temp() / "card.img";
        if (!makeImage(image, {"/usr/sbin/mkfs.exfat"}))
            GTEST_SKIP() << "mkfs.exfat is not installed";
        machine.mount("fuseblk", image.string());
        EXPECT_EQ(machine.facts()->fileSystemType, "exfat");
    }
    {
        FakeMachine machine;
        machine.mount("fuseblk", "/dev/none");  // an NTFS stick, say: nothing to learn
        EXPECT_EQ(machine.facts()->fileSystemType, "fuseblk");
    }
}

TEST(VolumeFacts, DeepestMountOfTheDeviceHoldsThePath) {
    FakeMachine machine;
    writeFile(machine.temp() / "mountinfo",
              "1 0 0:1 / / rw - ext4 /dev/vda rw\n"
              "2 1 0:2 / " +
                  machine.volume().string() + " rw - tmpfs tmpfs rw\n" + "3 1 0:2 / " +
                  machine.volume().string() + "/inner rw - vfat /dev/sdb1 rw\n");
    std::filesystem::create_directories(machine.volume() / "inner" / "deeper");
    // The folders' real device is neither 0:1 nor 0:2: the deepest mount point
    // above each is the one to believe.
    EXPECT_EQ(machine.facts()->fileSystemType, "tmpfs");
    EXPECT_EQ(machine.facts("/proc", machine.volume() / "inner")->fileSystemType, "msdos");
    EXPECT_EQ(machine.facts("/proc", machine.volume() / "inner" / "deeper")->fileSystemType,
              "msdos");
}

TEST(VolumeFacts, TheMachinesRootIsTheRootFileSystem) {
    const std::optional<VolumeInfo> root = systemVolumeFacts().volumeOf("/");
    ASSERT_TRUE(root.has_value());
    EXPECT_EQ(root->rootFileSystem, true);
    const std::optional<VolumeInfo> proc = systemVolumeFacts().volumeOf("/proc/self");
    ASSERT_TRUE(proc.has_value());
    EXPECT_EQ(proc->fileSystemType, "proc");
    EXPECT_EQ(proc->rootFileSystem, false);
}

}  // namespace
}  // namespace tarvik
