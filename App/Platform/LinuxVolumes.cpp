#include "App/Platform/LinuxVolumes.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "App/Platform/FolderPlaces.hpp"
#include "App/Platform/MountWatcher.hpp"
#include "App/Platform/UDisksEject.hpp"
#include "Core/SDCard/CardVolumes.hpp"

namespace tarvik {
namespace {

bool isAtOrUnder(const std::string& path, std::string_view folder) {
    return path.starts_with(folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

// Where the system keeps its own mounts. /run/media is where removable media
// appear on some distributions, so it is no system place.
constexpr std::array<std::string_view, 9> systemPlaces = {
    "/proc", "/sys", "/dev", "/boot", "/efi", "/snap", "/var/snap", "/var/lib/snapd", "/run"};

bool hasHiddenComponent(const std::string& path) {
    return path.find("/.") != std::string::npos;
}

// udev writes unsafe bytes of a label as "\xNN".
std::string decodeUdevText(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            const std::string_view hex = text.substr(i + 2, 2);
            if (hex.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos) {
                out.push_back(static_cast<char>(std::stoi(std::string(hex), nullptr, 16)));
                i += 3;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

// The folder's device number; nothing for what is no folder or can't be examined.
std::optional<std::uint64_t> folderDevice(const std::filesystem::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return std::nullopt;
    return static_cast<std::uint64_t>(status.st_dev);
}

// A volume's facts as its mount line and its file system give them;
// nothing for a mount point that is gone or unreadable, or a file bound over
// a file. Asks the file system, which may not answer.
std::optional<VolumeService::Mounted> factsOf(const MountEntry& mount,
                                              const SystemVolumeFacts& facts) {
    const std::optional<std::uint64_t> device = folderDevice(mount.mountPoint);
    if (!device) return std::nullopt;
    VolumeService::Mounted volume{.path = mount.mountPoint, .device = device};
    if (auto label = facts.udevProperty(mount, "ID_FS_LABEL_ENC"); label && !label->empty()) {
        volume.name = decodeUdevText(*label);
    }
    const std::int64_t free = SDCardTools::freeBytes(mount.mountPoint);
    if (free != SDCardTools::unknownFreeBytes) volume.available = free;
    if (auto id = facts.udevProperty(mount, "ID_FS_UUID"); id && !id->empty()) {
        volume.fileSystemId = std::move(*id);
    }
    const VolumeInfo info = facts.mountFacts(mount);
    volume.removable = info.removable;
    volume.ejectable = info.ejectable;
    volume.rootFileSystem = mount.mountPoint == "/";
    volume.card = info.removable == true && !*volume.rootFileSystem &&
                  std::ranges::find(SDCardTools::cardFileSystems, info.fileSystemType) !=
                      std::end(SDCardTools::cardFileSystems);
    volume.resolved = FolderPlaces::resolved(mount.mountPoint);
    return volume;
}

}  // namespace

std::vector<MountEntry> volumeMountsOf(const SystemVolumeFacts& facts) {
    std::vector<MountEntry> volumes;
    for (MountEntry& mount : facts.mounts().value_or(std::vector<MountEntry>{})) {
        // A later mount on the same point hides the earlier one.
        std::erase_if(volumes,
                      [&](const MountEntry& m) { return m.mountPoint == mount.mountPoint; });
        if (isVolumeMount(mount)) volumes.push_back(std::move(mount));
    }
    return volumes;
}

bool isVolumeMount(const MountEntry& mount) {
    const std::string& point = mount.mountPoint.native();
    if (mount.root != "/" || !mount.source.starts_with("/dev/")) return false;
    if (mount.fileSystemType == "squashfs" || hasHiddenComponent(point)) return false;
    if (isAtOrUnder(point, "/run/media") && point != "/run/media") return true;
    return std::none_of(systemPlaces.begin(), systemPlaces.end(),
                        [&](std::string_view place) { return isAtOrUnder(point, place); });
}

LinuxVolumes::LinuxVolumes(SystemVolumeFacts::Places places, QDBusConnection bus,
                           std::chrono::milliseconds answer)
    : facts_(std::move(places)), bus_(std::move(bus)), answers_(answer, [outlet = outlet_, this] {
          // Posted only while the watcher lives, and so while this object does.
          outlet.post([this] {
              if (changed_) changed_(std::nullopt);
          });
      }) {}

LinuxVolumes::~LinuxVolumes() {
    outlet_.close();
}

std::set<std::filesystem::path> LinuxVolumes::volumePaths() const {
    std::set<std::filesystem::path> paths;
    for (const MountEntry& mount : volumeMountsOf(facts_)) paths.insert(mount.mountPoint);
    return paths;
}

VolumeService::Lister LinuxVolumes::lister() const {
    // Copies of the facts' places and of the answers, which share their state
    // with every copy: no question about a held mount is asked twice.
    return [facts = facts_, answers = answers_](std::stop_token stop) {
        return answers.list(
            volumeMountsOf(facts),
            [facts](const MountEntry& mount) { return factsOf(mount, facts); }, std::move(stop));
    };
}

VolumeService::Ejecter LinuxVolumes::ejecter() const {
    return [bus = bus_](const std::filesystem::path& path,
                        std::stop_token stop) -> std::optional<std::string> {
        const UDisksEject::Outcome outcome = UDisksEject::eject(bus, path, stop);
        if (outcome.kind == UDisksEject::Outcome::Kind::ejected) return std::nullopt;
        if (outcome.kind == UDisksEject::Outcome::Kind::failed) return outcome.reason;
        return UDisksEject::unmountWithoutUDisks(path, stop);
    };
}

void LinuxVolumes::watch(std::function<void(std::optional<std::filesystem::path>)> changed) {
    changed_ = std::move(changed);
    known_ = volumePaths();
    watcher_ =
        std::make_unique<MountWatcher>(facts_.places().mountInfo, [this] { mountTableChanged(); });
    outlet_.open(watcher_.get());
}

void LinuxVolumes::mountTableChanged() {
    std::set<std::filesystem::path> now = volumePaths();
    std::vector<std::filesystem::path> appeared;
    std::ranges::set_difference(now, known_, std::back_inserter(appeared));
    known_ = std::move(now);
    if (appeared.empty()) {
        changed_(std::nullopt);
        return;
    }
    for (const std::filesystem::path& path : appeared) changed_(path);
}

}  // namespace tarvik
