#pragma once
// Where the user's music library lies among the mounted volumes. A USB stick
// of music is removable and FAT or exFAT just as a card is, so the facts that
// make a card cannot tell the two apart; what the program does on its own (the
// cleaning of a fresh mount, the choice of a destination or of the send
// window's card) asks this first, because a card's cleaning renames and
// removes files. And a drive's mount folder stays behind, empty, while the
// drive is out (udisks makes it a moment before it mounts, too): the library
// is there only on the volume it was last seen on. Both rules read one record
// of where the music folder was last seen. Decided from where the library
// really lies (its places as the music folder's watch found them, links
// resolved), never from a name. Plain functions of what was read before, so
// that the GUI thread may ask them; any thread; never fail.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "App/Platform/FolderPlaces.hpp"
#include "App/Platform/VolumeService.hpp"

namespace tarvik::MusicDrive {

// The music folder and the folders its artist entries link to (the scanner
// follows links): FolderPlaces, the music folder first.
using Place = FolderPlace;

// Where the music folder was last seen: the listed volume it lay on, by its
// mount point ("" for none) and the identity of its file system where the
// system gave one. Kept across starts, for that one music folder.
struct LastSeen {
    std::string musicFolder;
    std::string mountPoint{};
    std::optional<std::string> fileSystemId{};

    bool operator==(const LastSeen&) const = default;
};

// Where the music folder is seen now: on the deepest listed volume (not the
// root file system) whose mount point is at or above its first place.
LastSeen seenNow(const std::string& musicFolder, const std::vector<VolumeService::Mounted>& mounted,
                 const std::vector<Place>& places);

// Whether the music folder lies where it was last seen: on the volume at the
// same mount point, of the same file system where both identities are known.
// A record of another music folder, or of one seen on no listed volume, asks
// nothing.
bool whereLastSeen(const LastSeen& now, const std::optional<LastSeen>& last);

// The volume holds the library when a place lies on it (at its root or below),
// when it is mounted inside a place, when a place lies on its file system
// reached another way, when it carries the identity of the file system the
// same music folder was last seen on, or when its path leads (`resolved`) to
// where a place lies. Asks no file system: the facts were read before.
bool holdsLibrary(const VolumeService::Mounted& volume, const std::vector<Place>& places,
                  const std::optional<LastSeen>& lastSeen, const std::string& musicFolder);

}  // namespace tarvik::MusicDrive
