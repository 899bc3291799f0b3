#include "Core/SDCard/ExportedAlbums.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <optional>
#include <utility>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/NameOrder.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/SDCard/CardAlbumPlaces.hpp"
#include "Core/SDCard/CardNames.hpp"
#include "Core/SDCard/CardVolumes.hpp"

namespace tarvik::SDCardTools {
namespace {

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool isFolder(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::int64_t sizeOf(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? static_cast<std::int64_t>(status.st_size) : 0;
}

void sortAlbums(std::vector<Album>& albums) {
    std::ranges::stable_sort(albums, [](const Album& a, const Album& b) {
        return nameOrder(a.relativePath, b.relativePath);
    });
}

// The folder to read: the path as given when it is a folder, since on Linux
// its NFC form may be another folder; else the NFC form when that is one.
std::optional<std::string> existingFolder(const std::filesystem::path& given) {
    if (isFolder(given.native())) return withoutTrailingSlashes(given.native());
    const std::string normalized = text::nfc(given.native());
    if (isFolder(normalized)) return withoutTrailingSlashes(normalized);
    return std::nullopt;
}

}  // namespace

bool nameOrder(std::string_view a, std::string_view b) {
    return text::compareNames(text::nfc(a), text::nfc(b)) < 0;
}

Album makeAlbum(const std::filesystem::path& albumFolder, std::vector<std::string> files,
                std::int64_t bytes, const std::filesystem::path& exportFolder,
                const NameOrder& order) {
    const std::string& folder = albumFolder.native();
    const std::string& root = exportFolder.native();
    std::string relative;
    if (folder.starts_with(root) && folder.size() > root.size()) {
        relative = folder.substr(root.size() + 1);
    } else {
        const std::size_t skip = text::graphemeCount(root) + 1;
        relative = text::suffixGraphemes(
            folder, text::graphemeCount(folder) - std::min(skip, text::graphemeCount(folder)));
    }
    relative = text::nfc(relative);

    const std::vector<std::string_view> parts = components(relative);
    std::string artist = parts.empty() ? relative : std::string(parts.front());
    std::string name = parts.empty() ? relative : std::string(parts.back());
    std::ranges::stable_sort(files, order);
    return Album{.relativePath = std::move(relative),
                 .sourceDir = albumFolder,
                 .artist = std::move(artist),
                 .name = std::move(name),
                 .files = std::move(files),
                 .bytes = bytes};
}

std::vector<Album> albumFolders(const std::filesystem::path& exportFolder) {
    const std::string root = withoutTrailingSlashes(exportFolder.native());
    struct Found {
        std::vector<std::string> files;
        std::int64_t bytes = 0;
    };
    std::map<std::string, Found> folders;
    for (const Entry& entry : walk(root)) {
        if (entry.isDir || entry.name.starts_with('.') || !isCardAudioFile(entry.name)) continue;
        const std::string folder = parentPath(entry.path.native());
        if (folder == root) continue;  // loose files of the export folder are no album here
        Found& found = folders[folder];
        found.files.push_back(entry.name);
        found.bytes += sizeOf(entry.path.native());
    }
    std::vector<Album> albums;
    for (auto& [folder, found] : folders) {
        albums.push_back(makeAlbum(folder, std::move(found.files), found.bytes, root));
    }
    sortAlbums(albums);
    return albums;
}

std::vector<Album> exportedAlbums(const std::vector<std::filesystem::path>& exportFolders) {
    std::map<std::string, Album> byPath;
    for (const std::filesystem::path& given : exportFolders) {
        const std::optional<std::string> folder = existingFolder(given);
        if (!folder) continue;
        const std::string rootName = text::nfc(lastComponent(*folder));
        const std::string parentName = text::nfc(lastComponent(parentPath(*folder)));

        std::vector<std::string> files;
        std::int64_t bytes = 0;
        for (std::string& name : listNames(*folder)) {
            if (name.starts_with('.') || !isCardAudioFile(name)) continue;
            const std::string path = *folder + "/" + name;
            if (isFolder(path)) continue;
            bytes += sizeOf(path);
            files.push_back(std::move(name));
        }
        if (!files.empty()) {
            std::ranges::stable_sort(files, nameOrder);
            Album album{.relativePath = parentName.empty() || parentName == "/"
                                            ? rootName
                                            : parentName + "/" + rootName,
                        .sourceDir = *folder,
                        .artist = parentName,
                        .name = rootName,
                        .files = std::move(files),
                        .bytes = bytes};
            byPath.insert_or_assign(album.relativePath, std::move(album));
        }

        for (Album& album : albumFolders(*folder)) {
            if (album.relativePath.find('/') == std::string::npos) {
                album.relativePath = rootName + "/" + album.relativePath;
                album.artist = rootName;
            }
            byPath.insert_or_assign(album.relativePath, std::move(album));
        }
    }
    std::vector<Album> albums;
    for (auto& [path, album] : byPath) albums.push_back(std::move(album));
    sortAlbums(albums);
    return albums;
}

bool isOnCard(const Album& album, const std::filesystem::path& cardRoot) {
    return isOnCard(album, cardRoot, sharedCardPaths({album}));
}

bool isOnCard(const Album& album, const std::filesystem::path& cardRoot,
              const std::set<std::string>& shared, std::stop_token stop) {
    for (const std::string& file : album.files) {
        if (shared.contains(cardPathKey(album, file))) return false;
    }
    // The card's folders may have been written in NFD by another computer:
    // they are found by their NFC forms, below the card root as it is named.
    // The album is there when its own folder (by the identity its files
    // carry, not by name) holds all its files.
    const std::optional<PosixFS::Root> root = PosixFS::rootAt(cardRoot);
    if (!root) return album.files.empty();
    const std::vector<Album> one{album};
    try {
        return CardAlbumPlaces(*root, one, std::move(stop)).complete(0);
    } catch (const Cancelled&) {
        return false;
    }
}

std::string cardPathKey(const Album& album, std::string_view file) {
    return text::lower(
        text::nfc(cardRelativePath(album.relativePath) + "/" + safeName(file, false)));
}

std::set<std::string> sharedCardPaths(const std::vector<Album>& albums) {
    std::set<std::string> shared;
    for (const Album& album : albums) {
        std::set<std::string> seen;
        for (const std::string& file : album.files) {
            std::string key = cardPathKey(album, file);
            if (!seen.insert(key).second) shared.insert(std::move(key));
        }
    }
    return shared;
}

bool allFilesPresent(const std::vector<std::string>& files,
                     const std::set<std::string>& namesOnCard) {
    for (const std::string& file : files) {
        if (namesOnCard.empty() || !namesOnCard.contains(text::nfc(safeName(file, false)))) {
            return false;
        }
    }
    return true;
}

}  // namespace tarvik::SDCardTools

std::size_t std::hash<tarvik::SDCardTools::Album>::operator()(
    const tarvik::SDCardTools::Album& album) const noexcept {
    std::size_t seed = 0;
    auto mix = [&seed](std::size_t value) {
        seed ^= value + 0x9E3779B97F4A7C15ULL + (seed << 6) + (seed >> 2);
    };
    std::hash<std::string> text;
    mix(text(album.relativePath));
    mix(text(album.sourceDir.native()));
    mix(text(album.artist));
    mix(text(album.name));
    mix(album.files.size());
    for (const std::string& file : album.files) mix(text(file));
    mix(std::hash<std::int64_t>{}(album.bytes));
    return seed;
}
