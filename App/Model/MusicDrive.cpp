#include "App/Model/MusicDrive.hpp"

#include <algorithm>

#include "Core/Platform/Text.hpp"

namespace tarvik::MusicDrive {
namespace {

namespace fs = std::filesystem;

// A path in its comparison form: "." and ".." taken as written, no trailing
// "/" ("/media/u/CARD/" and "/media/u/CARD" are one folder), names in NFC.
fs::path comparable(const fs::path& path) {
    fs::path normal = path.lexically_normal();
    if (!normal.has_filename() && normal.has_relative_path()) normal = normal.parent_path();
    return text::nfcName(normal.native());
}

// Whether `path` is `folder` or lies below it, component by component; both
// in their comparison form.
bool isAtOrUnder(const fs::path& path, const fs::path& folder) {
    auto inner = path.begin();
    for (auto outer = folder.begin(); outer != folder.end(); ++outer, ++inner) {
        if (inner == path.end() || *inner != *outer) return false;
    }
    return true;
}

bool liesOn(const fs::path& root, const std::vector<Place>& places) {
    return std::any_of(places.begin(), places.end(), [&](const Place& place) {
        const fs::path path = comparable(place.path);
        return isAtOrUnder(path, root) || isAtOrUnder(root, path);
    });
}

bool holdsByPlace(const VolumeService::Mounted& volume, const std::vector<Place>& places) {
    if (volume.path.empty()) return false;
    const bool sameFileSystem = std::any_of(places.begin(), places.end(), [&](const Place& place) {
        return volume.device && place.device && *volume.device == *place.device;
    });
    if (sameFileSystem) return true;
    const fs::path root = comparable(volume.path);
    if (liesOn(root, places)) return true;
    // The system lists mount points as they resolve; a volume named through a
    // link is known by where it leads, as its facts were read.
    if (!volume.resolved) return false;
    const fs::path real = comparable(*volume.resolved);
    return real != root && liesOn(real, places);
}

}  // namespace

LastSeen seenNow(const std::string& musicFolder, const std::vector<VolumeService::Mounted>& mounted,
                 const std::vector<Place>& places) {
    LastSeen seen{.musicFolder = musicFolder, .mountPoint = {}, .fileSystemId = {}};
    if (places.empty()) return seen;
    const fs::path folder = comparable(places.front().path);
    std::size_t depth = 0;
    for (const VolumeService::Mounted& volume : mounted) {
        if (volume.rootFileSystem.value_or(false) || volume.path.empty()) continue;
        const fs::path root = comparable(volume.path);
        const auto components = static_cast<std::size_t>(std::distance(root.begin(), root.end()));
        if (isAtOrUnder(folder, root) && (seen.mountPoint.empty() || components > depth)) {
            seen.mountPoint = volume.path.native();
            seen.fileSystemId = volume.fileSystemId;
            depth = components;
        }
    }
    return seen;
}

bool whereLastSeen(const LastSeen& now, const std::optional<LastSeen>& last) {
    if (!last || last->musicFolder != now.musicFolder || last->mountPoint.empty()) return true;
    if (!text::equivalent(last->mountPoint, now.mountPoint)) return false;
    return !last->fileSystemId || !now.fileSystemId || *last->fileSystemId == *now.fileSystemId;
}

bool holdsLibrary(const VolumeService::Mounted& volume, const std::vector<Place>& places,
                  const std::optional<LastSeen>& lastSeen, const std::string& musicFolder) {
    if (musicFolder.empty()) return false;
    if (lastSeen && volume.fileSystemId && lastSeen->musicFolder == musicFolder &&
        lastSeen->fileSystemId == volume.fileSystemId)
        return true;
    return holdsByPlace(volume, places);
}

}  // namespace tarvik::MusicDrive
