// Where the albums of one send go on a card that already holds files. Each
// album takes its own folder by the search exports use (AlbumFolders): where
// files carrying the album's identity (read from the exported files) are,
// or, for albums exported before files named their album, files of the same
// bytes; else its card name or the first numbered form of it (" 2", " 3", …)
// that nobody holds: not the card, not another listed album, not one given
// to another album of this send. Albums that share a card name are thus
// numbered as an export numbers them. A file's place that holds anything but
// the album's own regular file sends that file to a numbered name.
// One object per send or question, on one thread; it reads the card, never
// writes it, and throws nothing but Cancelled, once the send's stop is
// requested while it reads a file.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "Core/Naming/PosixFS.hpp"
#include "Core/SDCard/AlbumFolders.hpp"
#include "Core/SDCard/CardTree.hpp"
#include "Core/SDCard/ExportedAlbums.hpp"

namespace tarvik::SDCardTools {

// The identity the album's exported files carry: that of the first one that
// carries one. Throws Cancelled when the stop fires.
std::optional<std::string> identityOf(const Album& album, std::stop_token stop = {});

class CardAlbumPlaces {
public:
    struct Target {
        std::string relative;  // below the card root
        bool own = false;      // a regular file of this album is there
    };

    CardAlbumPlaces(PosixFS::Root card, const std::vector<Album>& albums,
                    std::stop_token stop = {});

    // The card folder album `index` takes, below the card root; nothing when
    // none is free.
    std::optional<std::string> folder(std::size_t index);

    // Where file `file` of album `index` goes, and whether its own copy is
    // there; nothing when no name is free.
    std::optional<Target> target(std::size_t index, const std::string& file);

    // Whether the album's own folder on the card holds the card name of every
    // one of its files.
    bool complete(std::size_t index);

    // The album's search met a link in place of a folder above its own: the
    // link's path below the card root.
    std::optional<std::string> link(std::size_t index);

private:
    AlbumFolders::Album query(std::size_t index) const;
    bool sameBytesAsOne(std::size_t index, const std::string& cardFile) const;

    std::stop_token stop_;
    CardTree tree_;
    AlbumFolders folders_;
    const std::vector<Album>& albums_;
    std::vector<std::optional<std::string>> identities_;
    std::set<std::string> claimedFiles_;  // card keys
};

}  // namespace tarvik::SDCardTools
