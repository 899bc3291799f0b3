#pragma once
// The volumes of the running Linux machine: the mount table and /sys give the
// list, a notifier on the mount table reports mounts and unmounts, and UDisks2
// on the system bus ejects (`umount` where UDisks2 does not answer). The places
// it reads and the bus it calls come from outside, so tests hand in fixture
// tables and a stand-in bus. Lives on the GUI thread; `eject` may also run on a
// worker (it reads nothing the other members change). Reading never throws:
// what can't be read is left out.
#include <QDBusConnection>
#include <filesystem>
#include <memory>
#include <set>

#include "App/Platform/VolumeService.hpp"
#include "Core/Platform/VolumeFacts.hpp"

namespace tarvik {

class MountWatcher;

// Whether a mount line is a volume the user could export to: a block device's
// file system seen from its top, not a system or pseudo mount (/proc, /sys,
// /dev, /boot, /run except /run/media, snaps, hidden folders).
bool isVolumeMount(const MountEntry& mount);

class LinuxVolumes final : public VolumeService {
public:
    explicit LinuxVolumes(SystemVolumeFacts::Places places = {},
                          QDBusConnection bus = QDBusConnection::systemBus());
    ~LinuxVolumes() override;

    std::vector<Mounted> mounted() override;
    bool isCardVolume(const std::filesystem::path& path) override;
    std::optional<std::string> eject(const std::filesystem::path& path,
                                     std::stop_token stop) override;
    void watch(std::function<void(std::optional<std::filesystem::path> mounted)> changed) override;

private:
    // The mount points of the volume mounts, later lines hiding earlier ones.
    std::vector<MountEntry> volumeMounts() const;
    std::set<std::filesystem::path> volumePaths() const;
    void mountTableChanged();

    SystemVolumeFacts facts_;
    QDBusConnection bus_;
    std::function<void(std::optional<std::filesystem::path>)> changed_;
    std::set<std::filesystem::path> known_;  // volume mount points at the last change
    std::unique_ptr<MountWatcher> watcher_;
};

}  // namespace tarvik
