#include "App/Model/ExportDestination.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik::ExportDestination {

namespace {

bool contains(const std::vector<std::filesystem::path>& list, const std::filesystem::path& path) {
    return std::find(list.begin(), list.end(), path) != list.end();
}

}  // namespace

bool isFormerVolumeRoot(const std::filesystem::path& path, const MountBases& bases) {
    std::filesystem::path folder = path.lexically_normal();
    if (folder.has_filename() == false) folder = folder.parent_path();  // a trailing "/"
    const std::filesystem::path parent = folder.parent_path();
    const bool whereVolumesGo =
        contains(bases.direct, parent) || contains(bases.perUser, parent.parent_path());
    if (!whereVolumesGo) return false;
    struct stat own {};
    struct stat above {};
    if (::stat(folder.c_str(), &own) != 0 || ::stat(parent.c_str(), &above) != 0) return false;
    if (own.st_dev != above.st_dev) return false;
    std::error_code error;
    return std::filesystem::is_empty(folder, error) && !error;
}

std::optional<std::string> refusal(const std::string& destPath, const std::vector<Volume>& volumes,
                                   const MountBases& bases) {
    std::error_code error;
    if (destPath.empty() || !std::filesystem::is_directory(destPath, error))
        return std::string(notFound);
    const bool listed = std::any_of(volumes.begin(), volumes.end(), [&](const Volume& volume) {
        return text::equivalent(volume.url.native(), destPath);
    });
    if (!listed && isFormerVolumeRoot(destPath, bases)) return std::string(notConnected);
    // Asked of the system as the run would meet it: a read-only mount refuses
    // even the superuser, missing permission only others.
    if (::access(destPath.c_str(), W_OK) != 0) {
        return fileSystemMessage("書き込めません: ", destPath, errno);
    }
    return std::nullopt;
}

}  // namespace tarvik::ExportDestination
