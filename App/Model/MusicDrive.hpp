#pragma once
// Whether a mounted volume holds the user's music library. A USB stick of
// music is removable and FAT or exFAT just as a card is, so the facts that
// make a card cannot tell the two apart; what the program does on its own (the
// cleaning of a fresh mount, the choice of a destination or of the send
// window's card) asks this first, because a card's cleaning renames and
// removes files. Decided from where the library really lies (its folders with
// their links resolved and their file systems), never from a name. Plain
// functions; any thread; never fail: what can't be examined is left out.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "App/Platform/VolumeService.hpp"

namespace tarvik::MusicDrive {

// A folder the library's songs are read from, with its file system's device
// number when it can be examined.
struct Place {
    std::filesystem::path path;  // links resolved
    std::optional<std::uint64_t> device;

    bool operator==(const Place&) const = default;
};

// The music folder and the folders its artist entries link to (the scanner
// follows links), links resolved. A music folder that is not there gives its
// path as far as it resolves, without a device. Nothing for an empty path.
std::vector<Place> libraryPlaces(const std::filesystem::path& musicFolder);

// The file system whose identity the library was last seen on, kept for one
// music folder: a drive that comes back at another mount point is known again.
struct LastSeen {
    std::string musicFolder;
    std::string fileSystemId;

    bool operator==(const LastSeen&) const = default;
};

// The volume holds the library when a place lies on it (at its root or below),
// when it is mounted inside a place, when a place lies on its file system
// reached another way, or when it carries the identity of the file system the
// same music folder was last seen on.
bool holdsLibrary(const VolumeService::Mounted& volume, const std::vector<Place>& places,
                  const std::optional<LastSeen>& lastSeen, const std::string& musicFolder);

// The identity of the listed volume the music folder lies on now (the deepest
// root above it), when that volume has one.
std::optional<std::string> libraryFileSystemId(const std::vector<VolumeService::Mounted>& mounted,
                                               const std::vector<Place>& places);

}  // namespace tarvik::MusicDrive
