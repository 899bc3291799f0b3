// Where the tracks of a run go on a card that already holds files. Under the
// artist/album layout each album finds its own folder with the search that
// sends use too (AlbumFolders): wherever its files are, whatever number the
// planner gave, else the first free number. Whose a file without identity
// there is follows the one rule (CardOwnership) against the album's planned
// tracks (CardTrackMatch); a file that names no album is told in the log
// and left as it is. A file counts as a track's own only when it is a
// regular file that carries the track's album identity (or, written without
// one, the same tags and length); it is the track's copy only when its
// bytes are all there too, else it is written again in its place. Anything
// else at a track's place (a link, a folder, another album's file, a stray)
// sends the track to the first free numbered file name. Owned by one run's
// thread; it sets the items' paths to where they lie on the card, levels
// there by their names on the card, and reads the card, never writes.
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
        // Where the item's file is or goes: found levels keep their names.
        std::optional<PosixFS::Location> location;
        bool blocked = false;  // no free name is left for the track
        // A folder on the way is a link: its full path. Nothing is written.
        std::optional<std::string> link;
        // Told once, when the album's folder is decided: that it took a
        // numbered folder for want of its own name, and the strays there.
        std::vector<std::string> notices;
    };

    // "「Road」には別のアルバムがあるため「Road 2」に書き出しました", or with
    // `unclear` "「Road」にはどのアルバムのものか分からない曲があるため…".
    static std::string numberedNotice(std::string_view name, std::string_view numbered,
                                      bool unclear = false);
    // "「MUSIC/A/Road/x.mp3」は空のファイルのため、そのままにしました", or
    // "…はタグを読めないファイルのため…" for one without tags, "…はアルバム名
    // のないファイルのため…" for one whose tags name no album.
    static std::string strayNotice(std::string_view path, AudioFacts::Stray why);

    // `identities` holds the album identity of each item; `stop` is the
    // run's, heeded by every read of the card, and checking a card file
    // without identity ends with Cancelled once it is requested.
    CardAlbums(PosixFS::Root root, const DeviceProfile& profile,
               std::vector<ConversionPlan::Item>& items, std::vector<std::string> identities,
               bool cardNames, std::stop_token stop);

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
    std::map<std::string, std::string> mainFolders_;  // identity -> its first planned folder
    std::map<std::string, std::vector<const ConversionPlan::Item*>> tracks_;  // by identity
    std::optional<std::set<std::string>> planPaths_;   // card keys of the planned paths
    std::map<std::string, std::size_t> claimedPaths_;  // card key -> item
    std::map<std::string, Answer> answers_;            // by identity + "\0" + planned folder
};

}  // namespace tarvik
