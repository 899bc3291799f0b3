#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDBusConnection>

#include "App/Platform/LinuxVolumes.hpp"
#include "App/Testing/AppTesting.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using testing::TempDir;
using testing::writeFile;

TEST(LinuxVolumesTest, OnlyBlockDeviceFileSystemsOutsideSystemPlacesAreVolumes) {
    struct Case {
        MountEntry mount;
        bool expected;
    };
    const std::vector<Case> cases = {
        {{8, 17, "/media/u/CARD", "vfat", "/dev/sdb1"}, true},
        {{8, 17, "/run/media/u/CARD", "exfat", "/dev/sdb1"}, true},
        {{8, 5, "/run/lock/x", "ext4", "/dev/sda5"}, false},
        {{7, 1, "/media/u/live", "squashfs", "/dev/loop1"}, false},
        {{0, 45, "/run/user/1000/doc", "fuse.portal", "portal"}, false},
        {{8, 2, "/srv/www", "ext4", "/dev/sda2", "/var/www"}, false},  // a bound folder
        {{8, 2, "/home/u/.cache/x", "ext4", "/dev/sda2"}, false},      // hidden
    };
    for (const Case& c : cases) EXPECT_EQ(isVolumeMount(c.mount), c.expected) << c.mount.mountPoint;
}

// A machine made of files: a mount table, /sys/dev/block and udev's records,
// with every mount point a real folder of the temporary tree.
class FixtureMachine {
public:
    std::filesystem::path point(const std::string& name) const { return temp_ / "m" / name; }

    void line(const std::string& device, const std::string& escapedPoint, const std::string& type,
              const std::string& source) {
        table_ += std::to_string(++id_) + " 1 " + device + " / " + escapedPoint + " rw - " + type +
                  " " + source + " rw\n";
        writeFile(temp_ / "mountinfo", table_);
    }
    void disk(const std::string& device, const std::string& sysPath, const std::string& flag) {
        const auto folder = temp_ / "sys" / "devices" / sysPath;
        writeFile(folder / "removable", flag + "\n");
        std::filesystem::create_directories(temp_ / "sys" / "dev" / "block");
        std::filesystem::create_symlink(folder, temp_ / "sys" / "dev" / "block" / device);
    }
    void label(const std::string& device, const std::string& encoded,
               const std::string& uuid = "") {
        writeFile(temp_ / "udev" / ("b" + device),
                  "E:ID_FS_LABEL_ENC=" + encoded + "\nE:ID_FS_UUID=" + uuid + "\n");
    }

    LinuxVolumes volumes() const {
        return LinuxVolumes({.mountInfo = temp_ / "mountinfo",
                             .blockDevices = temp_ / "sys" / "dev" / "block",
                             .udevData = temp_ / "udev"},
                            QDBusConnection(QStringLiteral("none")));
    }

private:
    TempDir temp_;
    std::string table_;
    int id_ = 0;
};

TEST(LinuxVolumesTest, ListsTheMountTablesVolumesWithTheirFacts) {
    FixtureMachine machine;
    for (const char* folder : {"MY CARD", "data", "stick", "over", "sd"})
        std::filesystem::create_directories(machine.point(folder));
    machine.line("254:0", "/", "ext4", "/dev/vda");
    machine.line("8:17", machine.point("MY\\040CARD").string(), "vfat", "/dev/sdb1");
    machine.line("0:40", machine.point("data").string(), "tmpfs", "tmpfs");
    machine.line("8:33", machine.point("stick").string(), "fuseblk", "/dev/sdc1");
    machine.line("8:2", machine.point("data").string(), "ext4", "/dev/sda2");  // over the tmpfs
    machine.line("8:49", machine.point("gone").string(), "exfat", "/dev/sdd1");
    machine.line("8:65", machine.point("over").string(), "vfat", "/dev/sde1");
    machine.line("0:41", machine.point("over").string(), "tmpfs", "tmpfs");  // hides the card
    machine.line("179:1", machine.point("sd").string(), "vfat", "/dev/mmcblk1p1");
    machine.disk("8:17", "pci0/usb1/1-1/host6/block/sdb/sdb1", "0");  // a USB disk
    machine.disk("8:33", "platform/mmc0/block/mmcblk0", "0");         // a card slot
    machine.disk("8:2", "pci0/ata1/host0/block/sda/sda2", "0");
    machine.disk("179:1", "platform/mmc1/block/mmcblk1", "0");  // a card in its slot
    machine.label("8:17", "MY\\x20CARD\\x2fA", "4A1B-2C3D");
    machine.label("8:2", "");

    using Mounted = VolumeService::Mounted;
    std::vector<Mounted> listed = machine.volumes().mounted();
    for (Mounted& volume : listed) {
        EXPECT_GT(volume.available.value_or(0), 0) << volume.path;
        volume.available.reset();
        struct stat status {};
        ASSERT_EQ(::stat(volume.path.c_str(), &status), 0);
        EXPECT_EQ(volume.device, status.st_dev) << volume.path;
        volume.device.reset();
    }
    // Below the fixture's mount folder, so never the root file system.
    const auto at = [&](const char* folder, std::optional<std::string> name, bool removable,
                        bool ejectable, std::optional<std::string> id = {}, bool card = false) {
        return Mounted{.path = machine.point(folder),
                       .name = std::move(name),
                       .removable = removable,
                       .ejectable = ejectable,
                       .rootFileSystem = false,
                       .fileSystemId = std::move(id),
                       .card = card,
                       .resolved = machine.point(folder)};
    };
    const std::vector<Mounted> expected = {
        {.path = "/", .rootFileSystem = true, .resolved = "/"},  // its disk is not in the fixture
        at("MY CARD", "MY CARD/A", false, true, "4A1B-2C3D"),
        at("stick", {}, true, true),
        at("data", {}, false, false),
        at("sd", {}, true, true, {}, true)};
    EXPECT_EQ(listed, expected);

    // An unreadable mount table lists nothing, and its watcher stays silent.
    LinuxVolumes unreadable({.mountInfo = machine.point("missing")},
                            QDBusConnection(QStringLiteral("none")));
    EXPECT_TRUE(unreadable.mounted().empty());
    unreadable.watch([](auto) {});
}

// A listing its owner stops (a quit) asks no more mounts, each of which
// might hold it up to the deadline.
TEST(LinuxVolumesTest, AStoppedListingAsksNoMount) {
    FixtureMachine machine;
    std::filesystem::create_directories(machine.point("sd"));
    machine.line("179:1", machine.point("sd").string(), "vfat", "/dev/mmcblk1p1");
    std::stop_source quit;
    quit.request_stop();
    const struct {
        std::stop_token stop;
        std::size_t listed;
    } cases[] = {{{}, 1}, {quit.get_token(), 0}};
    for (const auto& [stop, listed] : cases)
        EXPECT_EQ(machine.volumes().mounted(stop).size(), listed);
}

}  // namespace
}  // namespace tarvik
