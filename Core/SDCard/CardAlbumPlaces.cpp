#include "Core/SDCard/CardAlbumPlaces.hpp"

#include <sys/stat.h>

#include <fstream>
#include <utility>

#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/SDCard/CardNames.hpp"
#include "Core/SDCard/CardVolumes.hpp"

namespace tarvik::SDCardTools {
namespace {

// Numbers tried before an album or a file gives up.
constexpr std::int64_t numberLimit = 9999;

std::string keyOf(std::string_view path) {
    return text::lower(text::isValidUTF8(path) ? text::nfc(path) : std::string(path));
}

std::optional<mode_t> modeOf(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return std::nullopt;
    return info.st_mode;
}

// `name` with " n" before its extension (files) or at its end (folders).
std::string numbered(const std::string& path, std::int64_t n, bool isFile) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = isFile ? path.rfind('.') : std::string::npos;
    const std::size_t at = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                               ? path.size()
                               : dot;
    return path.substr(0, at) + " " + std::to_string(n) + path.substr(at);
}

bool sameBytes(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::ifstream first(a, std::ios::binary), second(b, std::ios::binary);
    if (!first || !second) return false;
    char one[65536], two[65536];
    for (;;) {
        first.read(one, sizeof one);
        second.read(two, sizeof two);
        if (first.gcount() != second.gcount()) return false;
        if (!std::equal(one, one + first.gcount(), two)) return false;
        if (first.gcount() == 0 || !first || !second) return first.eof() && second.eof();
    }
}

}  // namespace

std::optional<std::string> identityOf(const Album& album) {
    for (const std::string& file : album.files) {
        if (std::optional<std::string> identity = AlbumIdentity::read(album.sourceDir / file)) {
            return identity;
        }
    }
    return std::nullopt;
}

CardAlbumPlaces::CardAlbumPlaces(PosixFS::Root card, const std::vector<Album>& albums)
    : card_(std::move(card)), albums_(albums), folders_(albums.size()) {
    identities_.reserve(albums.size());
    for (std::size_t index = 0; index < albums.size(); ++index) {
        identities_.push_back(identityOf(albums[index]));
        baseFolders_.try_emplace(keyOf(cardRelativePath(albums[index].relativePath)), index);
    }
}

CardAlbumPlaces::Holder CardAlbumPlaces::holderOf(const std::filesystem::path& file,
                                                  std::size_t index,
                                                  const std::filesystem::path& source) {
    const std::optional<mode_t> mode = modeOf(file);
    if (!mode) return Holder::nobody;
    if (!S_ISREG(*mode)) return Holder::another;  // a link or a folder stays as it is
    const std::optional<std::string> carried = AlbumIdentity::read(file);
    const std::optional<std::string>& own = identities_[index];
    if (own) return carried == own ? Holder::album : Holder::another;
    // Exported before files named their album: the same bytes.
    return !carried && sameBytes(file, source) ? Holder::album : Holder::another;
}

bool CardAlbumPlaces::folderIsFree(const std::string& folder, std::size_t index) {
    const std::optional<PosixFS::Location> location = PosixFS::locate(card_, folder);
    if (!location || !location->exists()) return true;  // above: the copy will say so
    const std::optional<mode_t> mode = modeOf(location->path);
    if (!mode || !S_ISDIR(*mode)) return false;
    const std::optional<std::string>& own = identities_[index];
    bool foreign = false;
    for (const std::string& name : listNames(location->path)) {
        if (name.starts_with('.') || !isCardAudioFile(name)) continue;
        const std::filesystem::path file = location->path / name;
        const std::optional<mode_t> fileMode = modeOf(file);
        if (!fileMode || !S_ISREG(*fileMode)) continue;
        const std::optional<std::string> carried = AlbumIdentity::read(file);
        if (own && carried == own) return true;
        if (carried) foreign = true;
    }
    if (foreign) return false;
    // No identity either way: the album's own unless one of its names holds
    // other bytes.
    const Album& album = albums_[index];
    for (const std::string& file : album.files) {
        const std::optional<PosixFS::Location> target =
            PosixFS::locate(card_, folder + "/" + safeName(file, false));
        if (target && target->exists() &&
            holderOf(target->path, index, album.sourceDir / file) == Holder::another) {
            return false;
        }
    }
    return true;
}

const std::optional<std::string>& CardAlbumPlaces::folder(std::size_t index) {
    std::optional<std::optional<std::string>>& decided = folders_[index];
    if (decided) return *decided;
    const std::string base = cardRelativePath(albums_[index].relativePath);
    decided.emplace();
    for (std::int64_t n = 1; n <= numberLimit; ++n) {
        const std::string candidate = n == 1 ? base : numbered(base, n, false);
        const std::string key = keyOf(candidate);
        // Another listed album's folder, or one given to another album here.
        if (const auto other = baseFolders_.find(key);
            other != baseFolders_.end() && other->second != index) {
            continue;
        }
        if (const auto other = claimedFolders_.find(key);
            other != claimedFolders_.end() && other->second != index) {
            continue;
        }
        if (folderIsFree(candidate, index)) {
            claimedFolders_.emplace(key, index);
            *decided = candidate;
            break;
        }
    }
    return *decided;
}

std::optional<CardAlbumPlaces::Target> CardAlbumPlaces::target(std::size_t index,
                                                               const std::string& file) {
    const std::optional<std::string>& chosen = folder(index);
    if (!chosen) return std::nullopt;
    const std::string base = *chosen + "/" + safeName(file, false);
    const std::filesystem::path source = albums_[index].sourceDir / file;
    for (std::int64_t n = 1; n <= numberLimit; ++n) {
        const std::string candidate = n == 1 ? base : numbered(base, n, true);
        if (n > 1 && claimedFiles_.contains(keyOf(candidate))) continue;
        const std::optional<PosixFS::Location> location = PosixFS::locate(card_, candidate);
        const Holder holder = location && location->exists()
                                  ? holderOf(location->path, index, source)
                                  : Holder::nobody;
        if (holder == Holder::another) continue;
        claimedFiles_.insert(keyOf(candidate));
        return Target{candidate, holder == Holder::album};
    }
    return std::nullopt;
}

bool CardAlbumPlaces::complete(std::size_t index) {
    const std::optional<std::string>& chosen = folder(index);
    if (!chosen) return false;
    const std::optional<PosixFS::Location> location = PosixFS::locate(card_, *chosen);
    std::set<std::string> names;
    if (location && location->exists()) {
        for (const std::string& name : listNames(location->path)) names.insert(text::nfc(name));
    }
    // A folder that is free but not the album's is no copy of it.
    if (identities_[index] && !names.empty()) {
        bool own = false;
        for (const std::string& file : albums_[index].files) {
            const std::optional<PosixFS::Location> target =
                PosixFS::locate(card_, *chosen + "/" + safeName(file, false));
            own = own || (target && target->exists() &&
                          AlbumIdentity::read(target->path) == identities_[index]);
        }
        if (!own) return false;
    }
    return allFilesPresent(albums_[index].files, names);
}

}  // namespace tarvik::SDCardTools
