// Where the albums of one send go on a card that already holds files. Each
// album takes its own folder by the search and the rule exports use
// (AlbumFolders, CardOwnership): where files carrying the album's identity
// (read from the exported files) are, or files without identity that are
// its tracks (the same bytes, or the tags and length of one of its exported
// files, as an older card holds them); else its card name or the first
// numbered form of it (" 2", " 3", …) that nobody holds: not the card, not
// another listed album, not one given to another album of this send. A
// file that names no album makes a folder nobody's. Albums that share a
// card name are thus numbered as an export numbers them. A folder an
// earlier export wrote the album to under other names (before or without a
// lookup), found by the identity its files carry, takes the album's card
// name where it may. In the album's own
// folder each exported file's copy is found by the same rule wherever its
// name (one the user gave it is kept); a copy an earlier export wrote under
// another title or number is replaced. A file's place that holds anything
// but the album's own regular file sends that file to a numbered name.
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
#include <utility>
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
        // That file carries no identity and is this one by its bytes or by
        // its tags and length: a copy of it whatever its size.
        bool matched = false;
        bool whole = false;  // that file's bytes are all there
        // The file's copy under the title or number an earlier export gave
        // it, below the card root: moved to `relative` before the copy.
        std::optional<std::string> replaces = std::nullopt;
    };

    CardAlbumPlaces(PosixFS::Root card, const std::vector<Album>& albums,
                    std::stop_token stop = {});

    // The card folder album `index` takes, below the card root; nothing when
    // none is free.
    std::optional<std::string> folder(std::size_t index);

    // Where file `file` of album `index` goes, and whether its own copy is
    // there; nothing when no name is free.
    std::optional<Target> target(std::size_t index, const std::string& file);

    // Whether the target holds a whole copy of the album's exported file:
    // one without identity that is the file by its bytes or tags and length,
    // or one carrying the album's identity with the exported file's size.
    bool holdsCopy(std::size_t index, const std::string& file, const Target& target);

    // Whether the album's own folder on the card, under the album's name,
    // holds a whole copy of each of its files, under whatever name.
    bool complete(std::size_t index);

    // The album's search met a link in place of a folder above its own: the
    // link's path below the card root.
    std::optional<std::string> link(std::size_t index);

    // The album's folder an earlier export wrote under other names, below
    // the card root: moved to `folder(index)` before anything is copied
    // into it, which the targets already name.
    std::optional<std::string> movedFrom(std::size_t index);

private:
    // An exported file as the rule compares card files with it.
    struct Exported {
        std::optional<AudioFacts::Facts> facts;
        TrackMeta meta;  // its tags, as read
        CardOwnership::Song song;
    };
    const Exported& exported(std::size_t index, std::size_t file);
    AlbumFolders::Album query(std::size_t index);
    std::optional<Target> place(std::size_t index, const std::string& file);
    bool sameBytesAsOne(std::size_t index, const std::string& cardFile) const;
    // Whether a card file without identity has the tags and length of
    // exported file `file` of the album.
    bool sameTrack(std::size_t index, std::size_t file, const CardOwnership::CardFile& card);
    // Whether a card file without identity is exported file `file` of the
    // album: its bytes, or its tags and length.
    bool isFile(std::size_t index, std::size_t file, const std::string& cardFile,
                const CardOwnership::CardFile& card);
    // What the card file is to exported file `file` of the album.
    CardOwnership::Match matchOf(std::size_t index, std::size_t file, const std::string& cardFile,
                                 bool atItsName);
    // Finds the copies of the album's files in its folder, wherever their names.
    void claimCopies(std::size_t index, const std::string& folder);

    std::stop_token stop_;
    CardTree tree_;
    AlbumFolders folders_;
    const std::vector<Album>& albums_;
    std::vector<std::vector<std::string>> identities_;  // the one each album's files carry
    std::map<std::pair<std::size_t, std::size_t>, Exported> exported_;  // by album and file
    std::map<std::pair<std::size_t, std::string>, std::optional<Target>> targets_;
    std::set<std::string> claimedFiles_;  // card keys
    // By album and file: its copy in the album's folder, and what it is to it.
    std::map<std::pair<std::size_t, std::size_t>, std::pair<std::string, CardOwnership::Match>>
        copies_;
    std::set<std::size_t> claimed_;  // albums whose copies were looked for
};

}  // namespace tarvik::SDCardTools
