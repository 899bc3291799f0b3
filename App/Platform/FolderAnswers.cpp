#include "App/Platform/FolderAnswers.hpp"

#include <system_error>

#include "App/Platform/FolderPlaces.hpp"
#include "Core/Naming/PosixFS.hpp"

namespace tarvik::FolderAnswers {

namespace {

namespace fs = std::filesystem;

// Whether `path` lies below `folder`, both absolute and free of links.
bool below(const fs::path& path, const fs::path& folder) {
    const fs::path inside = path.lexically_relative(folder);
    return !inside.empty() && inside != "." && *inside.begin() != "..";
}

}  // namespace

bool there(const fs::path& path) {
    if (!PosixFS::exists(path)) return false;
    std::error_code error;
    const fs::directory_iterator first(path, error);
    return true;
}

bool chooserMayOpenIn(const fs::path& folder, const std::vector<MountEntry>& mounts) {
    std::error_code error;
    if (!fs::is_directory(folder, error) || !there(folder)) return false;
    const fs::path real = FolderPlaces::resolved(fs::absolute(folder, error));
    for (const MountEntry& mount : mounts)
        if (below(mount.mountPoint, real)) there(mount.mountPoint);
    // The listing's own type: only a link costs a look of its own.
    fs::directory_iterator entries(real, error);
    for (const fs::directory_iterator end; !error && entries != end; entries.increment(error)) {
        if (entries->is_symlink(error)) there(entries->path());
        error.clear();
    }
    return true;
}

}  // namespace tarvik::FolderAnswers
