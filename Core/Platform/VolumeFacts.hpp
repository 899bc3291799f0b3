// What the program needs to know about the mounted volume that holds a path:
// whether its medium is removable, whether it is the root file system, and
// its file-system type. The facts come from /proc/self/mountinfo and
// /sys/dev/block behind a small interface, so tests can replace them. Reading
// never throws: what can't be read is absent. Every function and the system
// instance may be used from any thread.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

// One line of /proc/self/mountinfo.
struct MountEntry {
    unsigned major = 0;
    unsigned minor = 0;
    std::filesystem::path mountPoint;  // octal escapes ("\040") decoded
    std::string fileSystemType;        // as the kernel names it: "vfat", "fuseblk", "ext4"
    std::string source;                // "/dev/sdb1", or what the file system put there
    std::filesystem::path root = "/";  // the folder of the file system seen here ("/" unless bound)

    bool operator==(const MountEntry&) const = default;
};

// Lines that do not have the mountinfo shape are skipped.
std::vector<MountEntry> parseMountInfo(std::string_view text);

// The card file-system names: "vfat", "msdos" and "fat" are "msdos"; "exfat"
// stays "exfat"; anything else is returned unchanged.
std::string cardFileSystemName(std::string_view kernelType);

// The file system whose boot sector starts the device or image at `path`:
// "exfat", "vfat", or nothing when it is neither or can't be read.
std::optional<std::string> probeFileSystem(const std::filesystem::path& path);

struct VolumeInfo {
    std::optional<bool> removable;       // absent when the volume has no block device
    std::optional<bool> rootFileSystem;  // absent when "/" can't be examined
    std::string fileSystemType;          // "msdos", "exfat", or the kernel's name
    std::optional<bool> ejectable{};     // removable or on a USB bus; absent as `removable`

    bool operator==(const VolumeInfo&) const = default;
};

class VolumeFacts {
public:
    virtual ~VolumeFacts() = default;
    // Facts of the volume holding `path`; nothing when the path or the mount
    // table can't be read.
    virtual std::optional<VolumeInfo> volumeOf(const std::filesystem::path& path) const = 0;
};

// The running machine's facts. A volume is removable when its disk says so
// or is an MMC/SD slot (those report "not removable"); a USB disk without the
// flag is not removable. A
// "fuseblk" mount takes the type of its block device: udev's record first
// (readable without privileges), then the device's boot sector.
class SystemVolumeFacts final : public VolumeFacts {
public:
    struct Places {
        std::filesystem::path mountInfo = "/proc/self/mountinfo";
        std::filesystem::path blockDevices = "/sys/dev/block";
        std::filesystem::path udevData = "/run/udev/data";
        std::filesystem::path rootFolder = "/";
    };

    SystemVolumeFacts() = default;
    explicit SystemVolumeFacts(Places places) : places_(std::move(places)) {}

    std::optional<VolumeInfo> volumeOf(const std::filesystem::path& path) const override;

    const Places& places() const { return places_; }
    // The mount table's lines in its order; nothing when it can't be read.
    std::optional<std::vector<MountEntry>> mounts() const;
    // The facts of one mount line, read from its device alone; rootFileSystem
    // stays absent (no path is examined).
    VolumeInfo mountFacts(const MountEntry& mount) const;
    // A value of udev's record of the mount's device ("ID_FS_LABEL_ENC"), as written there.
    std::optional<std::string> udevProperty(const MountEntry& mount, std::string_view key) const;

private:
    Places places_;
};

// The machine's facts, made once.
const VolumeFacts& systemVolumeFacts();

}  // namespace tarvik
