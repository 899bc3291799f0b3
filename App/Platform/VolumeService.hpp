#pragma once
// The mounted volumes as the desktop sees them, with whether each is a card
// this program writes to, and the one action on them that needs the system:
// ejecting a card. Tests replace it with fixtures. `mounted` asks every
// mounted file system, any of which may stop answering, so it runs on a
// worker, never on the GUI thread; an eject waits on the system and runs on a
// worker too, alone or beside it; `watch` belongs to the GUI thread.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace tarvik {

class VolumeService {
public:
    // One mounted file system with the facts the volume list is built from.
    // A fact the system does not give is absent.
    struct Mounted {
        std::filesystem::path path{};
        std::optional<std::string> name{};
        std::optional<std::int64_t> available{};
        std::optional<bool> removable{};
        std::optional<bool> ejectable{};
        std::optional<bool> internal{};
        std::optional<bool> rootFileSystem{};
        // The file system's device number as stat reports it for the mount
        // point, so that a path on the volume, however reached, can be told.
        std::optional<std::uint64_t> device{};
        // What names the file system itself whatever it is mounted on (its
        // serial or UUID), so that a drive is known again at another mount point.
        std::optional<std::string> fileSystemId{};
        // A card this program writes to: removable, not the root file system,
        // formatted FAT or exFAT.
        bool card = false;
        // Where `path` leads, links followed (FolderPlaces::resolved), where
        // that was looked up.
        std::optional<std::filesystem::path> resolved{};

        bool operator==(const Mounted&) const = default;
    };

    virtual ~VolumeService() = default;

    // Lists the volumes in the system's order; pseudo and system mounts are
    // not volumes. Any thread but the GUI's: each file system is asked no
    // longer than a short deadline, and one that does not answer by then is
    // left out (as a volume whose facts can't be read), to be listed once it
    // answers: `watch` then tells of a change. A stop ends the listing at
    // once, leaving out what has not answered by then. The lister owns what it
    // reads and nothing of this service, so that a worker held by a file
    // system keeps no object of the GUI thread alive, nor frees one on its own.
    using Lister = std::function<std::vector<Mounted>(std::stop_token stop)>;
    virtual Lister lister() const = 0;
    std::vector<Mounted> mounted(std::stop_token stop = {}) const {
        return lister()(std::move(stop));
    }
    // Unmounts the file system at `path` and powers its drive off where it can;
    // the system's reason when the unmount failed (the card is then still in
    // use). Owns what it needs and nothing of this service, as the lister.
    using Ejecter =
        std::function<std::optional<std::string>(const std::filesystem::path&, std::stop_token)>;
    virtual Ejecter ejecter() const = 0;
    std::optional<std::string> eject(const std::filesystem::path& path,
                                     std::stop_token stop) const {
        return ejecter()(path, std::move(stop));
    }
    // `changed` runs on the GUI thread after each mount or unmount, with the
    // mount point that appeared (absent for an unmount or any other change,
    // such as a volume left out of a listing that answered since).
    virtual void watch(
        std::function<void(std::optional<std::filesystem::path> mounted)> changed) = 0;
};

}  // namespace tarvik
