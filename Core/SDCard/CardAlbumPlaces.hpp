// Where the albums of one send go on a card that already holds files: a card
// folder or file is an album's only when its files carry the album's identity
// (read from the exported files), or, for albums exported before files named
// their album, when it holds the same bytes. A folder of another album, and
// any entry at a file's place that is not the album's own regular file, sends
// the album or the file to the first numbered name (" 2", " 3", …) that is
// free or its own; a numbered name never takes another listed album's folder.
// One object per send or question, on one thread; it reads the card, never
// writes it, and never throws.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Core/Naming/PosixFS.hpp"
#include "Core/SDCard/ExportedAlbums.hpp"

namespace tarvik::SDCardTools {

// The identity the album's exported files carry: that of the first one that
// carries one.
std::optional<std::string> identityOf(const Album& album);

class CardAlbumPlaces {
public:
    struct Target {
        std::string relative;  // below the card root
        bool own = false;      // a regular file of this album is there
    };

    CardAlbumPlaces(PosixFS::Root card, const std::vector<Album>& albums);

    // The card folder album `index` takes, below the card root; nothing when
    // none is free.
    const std::optional<std::string>& folder(std::size_t index);

    // Where file `file` of album `index` goes, and whether its own copy is
    // there; nothing when no name is free.
    std::optional<Target> target(std::size_t index, const std::string& file);

    // Whether the album's own folder on the card holds the card name of every
    // one of its files.
    bool complete(std::size_t index);

private:
    enum class Holder { nobody, album, another };
    Holder holderOf(const std::filesystem::path& file, std::size_t index,
                    const std::filesystem::path& source);
    bool folderIsFree(const std::string& folder, std::size_t index);

    PosixFS::Root card_;
    const std::vector<Album>& albums_;
    std::vector<std::optional<std::string>> identities_;
    std::vector<std::optional<std::optional<std::string>>> folders_;  // decided folders
    std::map<std::string, std::size_t> baseFolders_;     // card key -> first album with it
    std::map<std::string, std::size_t> claimedFolders_;  // card key -> album
    std::set<std::string> claimedFiles_;                 // card keys
};

}  // namespace tarvik::SDCardTools
