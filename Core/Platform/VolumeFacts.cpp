#include "Core/Platform/VolumeFacts.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

namespace tarvik {
namespace {

std::vector<std::string_view> splitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (start <= line.size()) {
        std::size_t end = line.find(' ', start);
        if (end == std::string_view::npos) end = line.size();
        if (end > start) fields.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

// The kernel writes space, tab, newline and backslash in paths as "\ooo".
std::string unescape(std::string_view field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string_view code = field.substr(i + 1, 3);
            if (code.find_first_not_of("01234567") == std::string_view::npos) {
                out.push_back(static_cast<char>((code[0] - '0') * 64 + (code[1] - '0') * 8 +
                                                (code[2] - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::optional<unsigned> parseUnsigned(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

std::optional<std::string> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return content;
}

std::string deviceName(unsigned major, unsigned minor) {
    return std::to_string(major) + ":" + std::to_string(minor);
}

bool isUnder(const std::string& path, const std::string& mountPoint) {
    if (mountPoint == "/") return path.starts_with('/');
    return path.starts_with(mountPoint) &&
           (path.size() == mountPoint.size() || path[mountPoint.size()] == '/');
}

// The mount that holds the path: the deepest mount point above it among the
// mounts of its device, later lines winning (they hide earlier mounts on the
// same point). File systems whose files report another device number than
// their mount (btrfs subvolumes) fall back to the deepest mount point.
const MountEntry* mountHolding(const std::vector<MountEntry>& mounts, const std::string& path,
                               dev_t device) {
    const MountEntry* sameDevice = nullptr;
    const MountEntry* anyDevice = nullptr;
    for (const MountEntry& mount : mounts) {
        const std::string& point = mount.mountPoint.native();
        if (!isUnder(path, point)) continue;
        if (anyDevice == nullptr || point.size() >= anyDevice->mountPoint.native().size()) {
            anyDevice = &mount;
        }
        if (mount.major == ::major(device) && mount.minor == ::minor(device) &&
            (sameDevice == nullptr || point.size() >= sameDevice->mountPoint.native().size())) {
            sameDevice = &mount;
        }
    }
    return sameDevice != nullptr ? sameDevice : anyDevice;
}

struct DiskFacts {
    bool removable = false;
    bool ejectable = false;
};

std::optional<DiskFacts> diskFacts(const std::filesystem::path& blockDevices,
                                   const MountEntry& mount) {
    std::error_code error;
    const std::filesystem::path link = blockDevices / deviceName(mount.major, mount.minor);
    if (!std::filesystem::exists(link, error)) return std::nullopt;
    std::filesystem::path device = std::filesystem::canonical(link, error);
    if (error) device = link;
    // A partition has no flag of its own; its disk is the folder above.
    const std::filesystem::path disk =
        std::filesystem::exists(device / "partition", error) ? device.parent_path() : device;
    const std::optional<std::string> flag = readFile(disk / "removable");
    const bool flagged = flag && flag->starts_with('1');
    // Being on a USB bus makes a disk ejectable, not removable: a USB hard
    // disk is no card, and the automatic clean must never rename or delete
    // files on a backup disk. Card readers and sticks set the flag; only
    // built-in SD/MMC slots don't.
    const bool onUSB = device.native().find("/usb") != std::string::npos;
    const bool cardSlot = disk.filename().native().starts_with("mmcblk");
    const bool removable = flagged || cardSlot;
    return DiskFacts{.removable = removable, .ejectable = removable || onUSB};
}

}  // namespace

std::vector<MountEntry> parseMountInfo(std::string_view text) {
    std::vector<MountEntry> mounts;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::vector<std::string_view> fields = splitFields(text.substr(start, end - start));
        start = end + 1;

        // id parent major:minor root mount-point options [optional...] - type source super
        std::size_t separator = 6;
        while (separator < fields.size() && fields[separator] != "-") ++separator;
        if (separator + 2 >= fields.size()) continue;
        const std::string_view numbers = fields[2];
        const std::size_t colon = numbers.find(':');
        if (colon == std::string_view::npos) continue;
        const std::optional<unsigned> major = parseUnsigned(numbers.substr(0, colon));
        const std::optional<unsigned> minor = parseUnsigned(numbers.substr(colon + 1));
        if (!major || !minor) continue;
        mounts.push_back(MountEntry{.major = *major,
                                    .minor = *minor,
                                    .mountPoint = unescape(fields[4]),
                                    .fileSystemType = unescape(fields[separator + 1]),
                                    .source = unescape(fields[separator + 2]),
                                    .root = unescape(fields[3])});
    }
    return mounts;
}

std::string cardFileSystemName(std::string_view kernelType) {
    if (kernelType == "vfat" || kernelType == "msdos" || kernelType == "fat") return "msdos";
    return std::string(kernelType);
}

std::optional<std::string> probeFileSystem(const std::filesystem::path& path) {
    // Non-blocking, so a FIFO standing at the path can't hang the caller.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) return std::nullopt;
    struct stat status {};
    std::array<unsigned char, 512> sector{};
    ssize_t got = -1;
    if (::fstat(descriptor, &status) == 0 && (S_ISBLK(status.st_mode) || S_ISREG(status.st_mode))) {
        got = ::pread(descriptor, sector.data(), sector.size(), 0);
    }
    ::close(descriptor);
    if (got != static_cast<ssize_t>(sector.size())) return std::nullopt;

    auto holds = [&sector](std::size_t offset, std::string_view text) {
        return std::memcmp(sector.data() + offset, text.data(), text.size()) == 0;
    };
    if (holds(3, "EXFAT   ")) return "exfat";
    const bool bootSignature = sector[510] == 0x55 && sector[511] == 0xAA;
    if (bootSignature && (holds(54, "FAT12   ") || holds(54, "FAT16   ") || holds(54, "FAT     ") ||
                          holds(82, "FAT32   "))) {
        return "vfat";
    }
    return std::nullopt;
}

std::optional<std::vector<MountEntry>> SystemVolumeFacts::mounts() const {
    const std::optional<std::string> table = readFile(places_.mountInfo);
    if (!table) return std::nullopt;
    return parseMountInfo(*table);
}

std::optional<std::string> SystemVolumeFacts::udevProperty(const MountEntry& mount,
                                                           std::string_view key) const {
    std::optional<std::string> record =
        readFile(places_.udevData / ("b" + deviceName(mount.major, mount.minor)));
    if (!record) return std::nullopt;
    const std::string prefix = "E:" + std::string(key) + "=";
    std::size_t start = 0;
    while (start < record->size()) {
        std::size_t end = record->find('\n', start);
        if (end == std::string::npos) end = record->size();
        const std::string_view line = std::string_view(*record).substr(start, end - start);
        if (line.starts_with(prefix) && line.size() > prefix.size()) {
            return std::string(line.substr(prefix.size()));
        }
        start = end + 1;
    }
    return std::nullopt;
}

VolumeInfo SystemVolumeFacts::mountFacts(const MountEntry& mount) const {
    VolumeInfo info;
    std::string type = mount.fileSystemType;
    if (type == "fuseblk" || type.starts_with("fuseblk.")) {
        std::optional<std::string> deviceType = udevProperty(mount, "ID_FS_TYPE");
        if (!deviceType && mount.source.starts_with('/')) {
            deviceType = probeFileSystem(mount.source);
        }
        if (deviceType) type = *deviceType;
    }
    info.fileSystemType = cardFileSystemName(type);
    if (const std::optional<DiskFacts> disk = diskFacts(places_.blockDevices, mount)) {
        info.removable = disk->removable;
        info.ejectable = disk->ejectable;
    }
    return info;
}

std::optional<VolumeInfo> SystemVolumeFacts::volumeOf(const std::filesystem::path& path) const {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return std::nullopt;
    const std::optional<std::vector<MountEntry>> table = mounts();
    if (!table) return std::nullopt;

    std::error_code error;
    std::filesystem::path absolute = std::filesystem::weakly_canonical(path, error);
    if (error) absolute = std::filesystem::absolute(path, error);
    const MountEntry* mount = mountHolding(*table, absolute.native(), status.st_dev);
    if (mount == nullptr) return std::nullopt;

    VolumeInfo info = mountFacts(*mount);
    struct stat root {};
    if (::stat(places_.rootFolder.c_str(), &root) == 0) {
        info.rootFileSystem = root.st_dev == status.st_dev;
    }
    return info;
}

const VolumeFacts& systemVolumeFacts() {
    static const SystemVolumeFacts facts;
    return facts;
}

}  // namespace tarvik
