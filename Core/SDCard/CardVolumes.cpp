#include "Core/SDCard/CardVolumes.hpp"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <algorithm>
#include <optional>

namespace tarvik::SDCardTools {
namespace {

std::string_view withoutTrailingSlashes(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    return path;
}

}  // namespace

std::string pathExtension(std::string_view name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return "";
    return std::string(name.substr(dot + 1));
}

bool isCardAudioFile(std::string_view name) {
    const std::string extension = pathExtension(name);
    // Only ASCII extensions can match, so ASCII lower-casing is the same as
    // Unicode lower-casing here and needs no tables.
    if (extension.size() != 3) return false;
    std::string lower = extension;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return lower == "mp3" || lower == "m4a" || lower == "wma" || lower == "aac";
}

bool isCardVolume(const std::filesystem::path& path, const VolumeFacts& facts) {
    const std::optional<VolumeInfo> volume = facts.volumeOf(path);
    if (!volume || volume->removable != true) return false;
    if (volume->rootFileSystem == true) return false;
    return std::ranges::find(cardFileSystems, volume->fileSystemType) != std::end(cardFileSystems);
}

std::int64_t freeBytes(const std::filesystem::path& path) {
    struct statvfs status {};
    if (::statvfs(path.c_str(), &status) != 0) return unknownFreeBytes;
    const unsigned __int128 bytes = static_cast<unsigned __int128>(status.f_bavail) *
                                    static_cast<unsigned __int128>(status.f_frsize);
    if (bytes > static_cast<unsigned __int128>(unknownFreeBytes)) return unknownFreeBytes;
    return static_cast<std::int64_t>(bytes);
}

std::vector<std::string> listNames(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) return names;
    while (const dirent* item = ::readdir(directory)) {
        const std::string_view name = item->d_name;
        if (name == "." || name == "..") continue;
        names.emplace_back(name);
    }
    ::closedir(directory);
    return names;
}

std::vector<std::pair<std::string, EntryKind>> listKinds(const std::filesystem::path& folder) {
    std::vector<std::pair<std::string, EntryKind>> listed;
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) return listed;
    while (const dirent* item = ::readdir(directory)) {
        const std::string_view name = item->d_name;
        if (name == "." || name == "..") continue;
        EntryKind kind = EntryKind::other;
        switch (item->d_type) {
            case DT_REG:
                kind = EntryKind::file;
                break;
            case DT_DIR:
                kind = EntryKind::folder;
                break;
            case DT_LNK:
                kind = EntryKind::link;
                break;
            case DT_UNKNOWN: {
                struct stat status {};
                const std::string path = folder.native() + "/" + std::string(name);
                if (::lstat(path.c_str(), &status) == 0) {
                    kind = S_ISREG(status.st_mode)   ? EntryKind::file
                           : S_ISDIR(status.st_mode) ? EntryKind::folder
                           : S_ISLNK(status.st_mode) ? EntryKind::link
                                                     : EntryKind::other;
                }
                break;
            }
            default:
                break;
        }
        listed.emplace_back(name, kind);
    }
    ::closedir(directory);
    return listed;
}

std::vector<Entry> walk(const std::filesystem::path& root, std::stop_token stop) {
    std::vector<Entry> entries;
    std::vector<std::string> pending = {root.native()};
    // A card through FUSE answers every listing with a round trip: a large
    // one takes long enough to walk that a stop must not wait for its end.
    while (!pending.empty() && !stop.stop_requested()) {
        const std::string folder = std::move(pending.back());
        pending.pop_back();
        for (auto& [name, kind] : listKinds(folder)) {
            std::string path = folder + "/" + name;
            const bool isDir = kind == EntryKind::folder;
            if (isDir) {
                if (name.starts_with('.')) continue;
                pending.push_back(path);
            }
            entries.push_back(
                Entry{.path = std::move(path), .name = std::move(name), .isDir = isDir});
        }
    }
    return entries;
}

std::string parentPath(std::string_view path) {
    path = withoutTrailingSlashes(path);
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return "";
    const std::string_view parent = withoutTrailingSlashes(path.substr(0, slash));
    return parent.empty() ? "/" : std::string(parent);
}

std::string lastComponent(std::string_view path) {
    path = withoutTrailingSlashes(path);
    if (path == "/") return "/";
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string joined(const std::string& folder, std::string_view name) {
    return folder.empty() ? std::string(name) : folder + "/" + std::string(name);
}

}  // namespace tarvik::SDCardTools
