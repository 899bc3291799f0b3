#pragma once
// The volumes of the running Linux machine: the mount table and /sys give the
// list, a notifier on the mount table reports mounts and unmounts, and UDisks2
// on the system bus ejects (`umount` where UDisks2 does not answer). The places
// it reads and the bus it calls come from outside, so tests hand in fixture
// tables and a stand-in bus. Built and watched on the GUI thread, which reads
// nothing but the kernel's mount table; its listers and ejecters run on
// workers (they own copies of what they read). Each volume's own facts come
// through MountAnswers: a file system that does not answer within `answer` is
// left out of the listing, and its late answer is told as a change, which the
// next listing shows without asking it again. Reading never throws: what
// can't be read is left out.
#include <QDBusConnection>
#include <chrono>
#include <filesystem>
#include <memory>
#include <set>

#include "App/Platform/GuiOutlet.hpp"
#include "App/Platform/MountAnswers.hpp"
#include "App/Platform/VolumeService.hpp"
#include "Core/Platform/VolumeFacts.hpp"

namespace tarvik {

class MountWatcher;

// Whether a mount line is a volume the user could export to: a block device's
// file system seen from its top, not a system or pseudo mount (/proc, /sys,
// /dev, /boot, /run except /run/media, snaps, hidden folders).
bool isVolumeMount(const MountEntry& mount);
// The mount table's volume lines, a later mount on a point hiding an earlier one.
std::vector<MountEntry> volumeMountsOf(const SystemVolumeFacts& facts);

class LinuxVolumes final : public VolumeService {
public:
    // Long enough for a disk to answer under load, short enough that a card
    // put in beside a stalled drive is listed well within a second.
    static constexpr std::chrono::milliseconds defaultAnswer{400};

    explicit LinuxVolumes(SystemVolumeFacts::Places places = {},
                          QDBusConnection bus = QDBusConnection::systemBus(),
                          std::chrono::milliseconds answer = defaultAnswer);
    ~LinuxVolumes() override;

    Lister lister() const override;
    Ejecter ejecter() const override;
    void watch(std::function<void(std::optional<std::filesystem::path> mounted)> changed) override;

private:
    std::set<std::filesystem::path> volumePaths() const;
    void mountTableChanged();

    const SystemVolumeFacts facts_;
    QDBusConnection bus_;
    std::function<void(std::optional<std::filesystem::path>)> changed_;
    std::set<std::filesystem::path> known_;  // volume mount points at the last change
    std::unique_ptr<MountWatcher> watcher_;
    GuiOutlet outlet_;  // late answers to the watcher, while it lives
    MountAnswers answers_;
};

}  // namespace tarvik
