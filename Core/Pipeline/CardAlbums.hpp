// Where the tracks of a run go on a card that already holds files: a file
// counts as a track's own only when it is a regular file that carries the
// track's album identity (or, written without one, the same tags and length);
// an album folder that holds another album's files is passed over for the
// first numbered folder that is free or the album's own, and a track whose
// place holds anything else (a link, a folder, another album's file) takes
// the first free numbered file name. Owned by one run's thread; it changes the
// card paths of the run's items as it decides and reads the card, never writes.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string_view>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Naming/SafeName.hpp"
#include "Core/Pipeline/ConversionPlan.hpp"
#include "Core/Profiles/DeviceProfile.hpp"

namespace tarvik {

class CardAlbums {
public:
    // Whether the file on the card, which carries no identity, is the item's:
    // its tags as the run would write them and its length match.
    using SameTrack =
        std::function<bool(const ConversionPlan::Item&, const std::filesystem::path& cardFile)>;

    struct Place {
        bool present = false;  // the item's own file is there already
        // Where the item's file is or goes: found levels keep their names.
        std::optional<PosixFS::Location> location;
        bool blocked = false;  // no free name is left for the track
    };

    CardAlbums(PosixFS::Root root, const DeviceProfile& profile,
               std::vector<ConversionPlan::Item>& items, bool cardNames, SameTrack sameTrack);

    // Decides the place of items[index], changing its `relativePath` (and
    // those of its album's other items, when the album moves to another
    // folder) to the path it takes.
    Place place(std::size_t index);

private:
    std::string onCard(const std::string& relative, bool isFile) const;
    void moveAlbum(std::size_t index, const std::string& from, const std::string& to);
    std::string folderFor(const ConversionPlan::Item& item, const std::string& identity);
    bool folderIsFree(const std::string& folder, const std::string& identity,
                      const ConversionPlan::Item& item);
    // nothing: free; true: the item's own file; false: taken.
    std::optional<bool> holds(const PosixFS::Location& at, const ConversionPlan::Item& item,
                              const std::string& identity);
    const std::optional<std::string>& identityAt(const std::filesystem::path& file);


    PosixFS::Root root_;
    const DeviceProfile& profile_;
    std::vector<ConversionPlan::Item>& items_;
    bool cardNames_;  // paths are mapped to card-readable names on the card
    SameTrack sameTrack_;
    bool albumFolders_;
    SafeName::Rules rules_;  // for numbered names
    std::vector<std::string> identities_;  // per item
    // Card key (NFC, lower case) of a plan folder or path -> identities using it.
    std::map<std::string, std::set<std::string>> planFolders_;
    std::map<std::string, std::set<std::string>> planPaths_;
    // Plan folder + "\0" + identity -> the folder the album takes.
    std::map<std::string, std::string> chosenFolders_;
    // Card keys this run gave away, with the identity they went to.
    std::map<std::string, std::string> claimedFolders_;
    std::map<std::string, std::size_t> claimedPaths_;  // card key -> item
    std::vector<bool> settled_;  // the item's folder is decided
    std::map<std::string, std::optional<std::string>> readIdentities_;  // by card file
};

}  // namespace tarvik
