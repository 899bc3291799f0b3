#pragma once
// The mounted volumes as the desktop sees them, and the one action on them
// that needs the system: ejecting a card. Tests replace it with fixtures.
// GUI thread only; `eject` may block briefly on the system bus.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvik {

class VolumeService {
public:
    // One mounted file system with the facts the volume list is built from.
    struct Mounted {
        std::filesystem::path path;
        std::optional<std::string> name;
        std::optional<std::int64_t> available;
        std::optional<bool> removable;
        std::optional<bool> ejectable;
        std::optional<bool> internal;
        std::optional<bool> rootFileSystem;
    };

    virtual ~VolumeService() = default;

    virtual std::vector<Mounted> mounted() = 0;
    // Unmounts the file system at `path` and powers its drive off where it can;
    // the system's reason when that failed.
    virtual std::optional<std::string> eject(const std::filesystem::path& path) = 0;
    // `changed` runs on the GUI thread after each mount or unmount, with the
    // mount point that appeared (absent for an unmount or an unknown change).
    virtual void watch(std::function<void(std::optional<std::filesystem::path> mounted)> changed) = 0;
};

}  // namespace tarvik
