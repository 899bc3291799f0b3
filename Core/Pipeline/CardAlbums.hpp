// Where the tracks of a run go on a card that already holds files. Under the
// artist/album layout each album finds its own folder with the search that
// sends use too (AlbumFolders): wherever its files are, whatever number the
// planner gave, else the first free number; a folder an earlier run wrote
// it to under other names takes the name the run plans, where it may.
// Whose a file without identity
// there is follows the one rule (CardOwnership) against the album's planned
// tracks (CardTrackMatch); a file that names no album is told in the log
// and left as it is. In the album's own folder each track's copy is found
// by the same rule wherever its name: at its planned name, under a name the
// user gave it (kept), or under the title, number or album names an earlier
// run gave it (then moved to its planned name and written again: one copy).
// Under the other layouts albums share folders, and the same search runs
// among the files of this album in the folder a track goes to and in the
// one the library's names would give it, each folder's files read once. A
// copy is
// the track's only when its bytes are all there too, else it is written
// again in its place. Anything else at a track's place (a link, a folder,
// another album's or song's file, a stray) sends the track to the first
// free numbered file name. Owned by one run's thread; it sets the items'
// paths to where they lie on the card, levels there by their names on the
// card, and reads the card, never writes: the moves it decides, the caller
// makes.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Naming/SafeName.hpp"
#include "Core/Pipeline/CardTrackMatch.hpp"
#include "Core/Pipeline/ConversionPlan.hpp"
#include "Core/Profiles/DeviceProfile.hpp"
#include "Core/SDCard/AlbumFolders.hpp"
#include "Core/SDCard/CardTree.hpp"

namespace tarvik {

class CardAlbums {
public:
    struct Place {
        bool present = false;  // the item's own file is there already, whole
        // The file at `location` is the song's copy from before, cut or
        // tagged as an earlier run wrote it, to be written over there.
        bool rewrites = false;
        // Where the item's file is or goes: found levels keep their names.
        std::optional<PosixFS::Location> location;
        // The song's copy under the title or number an earlier run gave it,
        // below the root as found: the caller moves it to `location` before
        // writing there, or writes over it where it lies there already.
        std::optional<std::string> replaces;
        bool blocked = false;  // no free name is left for the track
        // A folder on the way is a link: its full path. Nothing is written.
        std::optional<std::string> link;
        // Told once, when the album's folder is decided: that it took a
        // numbered folder for want of its own name, and the strays there.
        std::vector<std::string> notices;
        // The copy `replaces` holds the song under the album's earlier names.
        bool albumRenamed = false;
        // The album's folder an earlier run wrote under other names, and
        // where it goes now (below the root): given with the album's first
        // place; the caller moves it before anything else of the album, or
        // fails every track of the album that goes to `to`.
        struct FolderMove {
            std::string from;
            std::string to;
        };
        std::optional<FolderMove> folderMove;
    };

    // Why an album took a numbered folder.
    enum class Why { another, unclear, notAFolder };
    // "「Road」には別のアルバムがあるため「Road 2」に書き出しました", or
    // "「Road」にはどのアルバムのものか分からない曲があるため…", or
    // "「Road」はフォルダではないため…".
    static std::string numberedNotice(std::string_view name, std::string_view numbered,
                                      Why why = Why::another);
    // "「MUSIC/A/Road/03 Old.mp3」は曲名か番号が変わったため、「03 New.mp3」に
    // 名前を変えて書き直します" for a copy moved to `to` in its folder, "…、
    // 「MUSIC/B/03 New.mp3」に移して書き直します" into another, or without a
    // move "…変わったため、書き直します"; "…はアルバム名が変わったため、…" for a
    // song whose album was renamed. Paths below the destination.
    static std::string rewriteNotice(std::string_view path, std::string_view to,
                                     bool albumRenamed = false);
    // "「MUSIC/A/ＲＯＡＤ」はアルバム名が変わったため、「Road」に名前を変えます",
    // or "…、「MUSIC/B/Road」に移します" into another folder.
    static std::string folderMoveNotice(const Place::FolderMove& move);
    // "「MUSIC/A/ＲＯＡＤ」はアルバム名が変わりましたが、「Road」には別のアルバム
    // があるため、名前を変えずに書き出しました", and the other reasons.
    static std::string keptNotice(std::string_view folder, std::string_view wanted,
                                  SDCardTools::AlbumFolders::Kept why);
    // "「MUSIC/A/Road/x.mp3」は空のファイルのため、そのままにしました", or
    // "…はタグを読めないファイルのため…" for one without tags, "…はアルバム名
    // のないファイルのため…" for one whose tags name no album.
    static std::string strayNotice(std::string_view path, AudioFacts::Stray why);

    // `identities` holds the album identity of each item as planned; `stop`
    // is the run's, heeded by every read of the card, and checking a card
    // file without identity ends with Cancelled once it is requested.
    // `decode` tells how long a source plays where its header and a copy
    // disagree.
    CardAlbums(PosixFS::Root root, const DeviceProfile& profile,
               std::vector<ConversionPlan::Item>& items, std::vector<std::string> identities,
               bool cardNames, std::stop_token stop, CardTrackMatch::Decode decode = {});

    // Reads at once, before the first place is asked, what the places of the
    // plan's albums will be decided by: the folders of their names and
    // numbered forms on the card, and the identities of their files. A stop
    // ends it early; what it did not read is read when asked.
    void prefetch();

    // Decides the place of items[index] and sets its `relativePath` (and,
    // when its album's folder is decided now, those of the album's other
    // items) to where it lies on the card. Throws Cancelled once the stop is
    // requested while the card is read: nothing is decided then.
    Place place(std::size_t index);

private:
    std::string onCard(const std::string& planned, bool isFile) const;
    std::string baseOf(std::size_t index) const;
    SDCardTools::AlbumFolders::Album albumOf(std::size_t index);
    // The real folder of the item's planned folder; a link on the way instead.
    std::optional<std::string> realFolder(std::size_t index, Place& place);
    // What stands at a track's place: nothing, the track's own file (whole
    // or not), or anything else.
    enum class AtPlace { nothing, track, cutTrack, other };
    AtPlace atPlace(const SDCardTools::CardTree::Located& at, std::size_t index);
    // What the card file (real path below the root) is to the item.
    CardOwnership::Match matchOf(const std::string& file, std::size_t index, bool atItsName);
    // Finds the copies of the album's items among `files`, wherever their
    // names; each item's own name is looked for in `folder`.
    void claimCopies(const std::string& folder, const std::vector<std::size_t>& album,
                     const std::vector<std::string>& files);
    // The same in a folder albums share: among the files there and in the
    // folders the library's names give, those that may be the album's.
    void claimShared(const std::string& folder, const std::vector<std::size_t>& album);
    std::vector<std::string> audioFiles(const std::string& folder);
    // The folders the library's records of the item's album would give it,
    // where a lookup renamed it since, but `folder`: planned forms.
    std::vector<std::string> formerFolders(std::size_t index, const std::string& folder);
    void claim(std::size_t index, const std::string& file, CardOwnership::Match match);
    bool isCut(const std::string& file);
    void tellStrays(const std::string& folder, Place& place);
    const std::set<std::string>& planPaths();

    // What the search answered for one album's planned folder.
    struct Answer {
        std::optional<std::string> folder;
        std::optional<std::string> link;
    };

    SDCardTools::CardTree tree_;
    SDCardTools::AlbumFolders folders_;
    const DeviceProfile& profile_;
    std::vector<ConversionPlan::Item>& items_;
    std::vector<std::string> planned_;  // the items' paths as the plan gave them
    bool cardNames_;                    // paths are mapped to card-readable names on the card
    CardTrackMatch::Matcher matcher_;
    bool albumFolders_;
    SafeName::Rules rules_;                           // for numbered names
    std::vector<std::string> identities_;             // per item
    std::vector<CardOwnership::Song> songs_;          // per item, as the rule looks for it
    std::map<std::string, std::string> mainFolders_;  // identity -> its first planned folder
    std::map<std::string, std::vector<const ConversionPlan::Item*>> tracks_;  // by identity
    std::optional<std::set<std::string>> planPaths_;   // card keys of the planned paths
    std::map<std::string, std::size_t> claimedPaths_;  // card key -> item
    // Item -> its copy found in its album's folder, and whether it is as written now.
    struct Copy {
        std::string file;  // real path below the root
        CardOwnership::Match match = CardOwnership::Match::none;
    };
    std::map<std::size_t, Copy> copies_;
    std::map<std::string, Answer> answers_;  // by identity + "\0" + planned folder
    // A folder albums share, its files read once: those carrying an album
    // identity by it, the others by the album keys their tags give
    // (CardOwnership::albumKeys), or any album's; each by its place in the
    // folder's listing.
    struct Shared {
        std::vector<std::string> files;  // real paths below the root
        std::map<std::string, std::vector<std::size_t>> marked;
        std::map<std::string, std::vector<std::size_t>> unmarked;
        std::vector<std::size_t> anyAlbum;
    };
    std::map<std::string, Shared> shared_;  // by real folder
    const Shared& sharedIn(const std::string& folder);
};

}  // namespace tarvik
