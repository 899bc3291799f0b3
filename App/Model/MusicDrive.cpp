#include "App/Model/MusicDrive.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <system_error>

namespace tarvik::MusicDrive {
namespace {

namespace fs = std::filesystem;

// Links and "." or ".." resolved as far as the path exists; the rest kept.
fs::path resolved(const fs::path& path) {
    std::error_code error;
    fs::path real = fs::weakly_canonical(path, error);
    if (error) real = fs::absolute(path, error).lexically_normal();
    // "/media/u/CARD/" and "/media/u/CARD" are one folder.
    if (!real.has_filename() && real.has_relative_path()) real = real.parent_path();
    return real;
}

std::optional<std::uint64_t> deviceOf(const fs::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(status.st_dev);
}

// Whether `path` is `folder` or lies below it, component by component.
bool isAtOrUnder(const fs::path& path, const fs::path& folder) {
    auto inner = path.begin();
    for (auto outer = folder.begin(); outer != folder.end(); ++outer, ++inner) {
        if (inner == path.end() || *inner != *outer) return false;
    }
    return true;
}

bool holdsByPlace(const VolumeService::Mounted& volume, const std::vector<Place>& places) {
    const fs::path root = resolved(volume.path);
    return std::any_of(places.begin(), places.end(), [&](const Place& place) {
        if (isAtOrUnder(place.path, root) || isAtOrUnder(root, place.path)) return true;
        return volume.device && place.device && *volume.device == *place.device;
    });
}

}  // namespace

std::vector<Place> libraryPlaces(const fs::path& musicFolder) {
    if (musicFolder.empty()) return {};
    const fs::path folder = resolved(musicFolder);
    std::vector<Place> places{{folder, deviceOf(folder)}};
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    for (const fs::directory_iterator end; !error && entries != end; entries.increment(error)) {
        if (!entries->is_symlink(error) || error) {
            error.clear();
            continue;
        }
        const fs::path target = resolved(entries->path());
        if (!fs::is_directory(target, error)) {
            error.clear();
            continue;
        }
        Place place{target, deviceOf(target)};
        if (std::find(places.begin(), places.end(), place) == places.end())
            places.push_back(std::move(place));
    }
    return places;
}

bool holdsLibrary(const VolumeService::Mounted& volume, const std::vector<Place>& places,
                  const std::optional<LastSeen>& lastSeen, const std::string& musicFolder) {
    if (holdsByPlace(volume, places)) return true;
    return lastSeen && volume.fileSystemId && !musicFolder.empty() &&
           lastSeen->musicFolder == musicFolder && lastSeen->fileSystemId == *volume.fileSystemId;
}

std::optional<std::string> libraryFileSystemId(const std::vector<VolumeService::Mounted>& mounted,
                                               const std::vector<Place>& places) {
    if (places.empty()) return std::nullopt;
    // The volume the music folder itself lies on: the deepest root above it.
    const VolumeService::Mounted* holder = nullptr;
    std::size_t depth = 0;
    for (const VolumeService::Mounted& volume : mounted) {
        if (volume.rootFileSystem.value_or(false)) continue;
        const fs::path root = resolved(volume.path);
        const auto components = static_cast<std::size_t>(std::distance(root.begin(), root.end()));
        if (isAtOrUnder(places.front().path, root) && (holder == nullptr || components > depth)) {
            holder = &volume;
            depth = components;
        }
    }
    return holder != nullptr ? holder->fileSystemId : std::nullopt;
}

}  // namespace tarvik::MusicDrive
