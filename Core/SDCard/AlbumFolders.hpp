// Which card folder an album takes, the one search that exports and sends
// share. An album's own folder is wherever its files are: the folder of its
// name or any numbered form of it (" 2", " 3", …) that holds files carrying
// the album's identity, whatever lies beside them, or else files of the
// album and no other album's, nor any whose album can't be told; else a
// folder an earlier run wrote it to under other names (the library's, given
// by the caller, or any beside its own that holds its identity's files and
// nobody else's). A folder of other names whose songs name the album
// otherwise than now takes the album's name, where that is free and the
// folder holds no other album's songs; else it keeps its name, and the
// answer says why. Whose each
// file is, and so each folder, is decided by the one rule (CardOwnership):
// by the identity a file carries, else by its tags and length against the
// album's tracks as the caller knows them; a file that names no album makes
// a folder nobody's. Only where the album's own folder is nowhere does it
// take the first free number, passing over the names that other albums of
// the plan or send hold and those given to another album in this run. A
// link or a file in a folder's place is no folder of anyone's.
// One object per run or send, used on its thread, on top of that run's
// CardTree; it reads the card, never writes. The caller's comparisons may
// throw (Cancelled), which passes through with nothing decided.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "Core/Naming/SafeName.hpp"
#include "Core/SDCard/CardOwnership.hpp"
#include "Core/SDCard/CardTree.hpp"

namespace tarvik::SDCardTools {

// Why nothing is written below a folder of the card's tree that is a link;
// the link's path follows.
inline constexpr std::string_view folderIsLinkMessage = "書き出し先のフォルダがリンクです: ";

class AlbumFolders {
public:
    // Whose files a card folder, or a card file, holds, for one album.
    using Holder = CardOwnership::Holder;
    using CardFile = CardOwnership::CardFile;

    struct Album {
        std::string owner;  // tells the albums of one run or send apart
        // The album's folder without a number, parent levels and name, as
        // planned; with `cardNames` each level takes its card form on the card.
        std::string base;
        // Where earlier runs may have put it, named as the library names it
        // where a lookup renamed the album since: found there, it stays.
        std::vector<std::string> formerBases = {};
        bool cardNames = false;
        // The album identities its files may carry: the one written now and
        // those earlier runs wrote, where a lookup renamed the album since.
        std::vector<std::string> identities;
        // For a card file without identity: how the album's names compare
        // with its tags, and whether it (real path below the card root) is
        // one of the album's tracks. Without them no such file is the album's.
        std::function<CardOwnership::Naming(const CardFile&)> naming;
        std::function<bool(const std::string& file, const CardFile&)> isTrack;
        SafeName::Rules rules;  // the limits a numbered name keeps to
        // The card keys (CardTree::fileKey) of the names its files take: a
        // copy cut beyond telling under one of them is its.
        std::set<std::string> fileKeys = {};
        // How the album's names as written now compare with a card file's
        // tags; without it no folder takes the album's name.
        std::function<CardOwnership::Naming(const CardFile&)> namedNow = {};
    };

    // Why an album's folder of other names keeps them: its name is another
    // album's folder, holds songs whose album can't be told, is no folder,
    // or is a folder without songs; or the folder holds other albums' songs.
    enum class Kept { another, unclear, notAFolder, taken, shared };

    struct Found {
        std::string folder;       // below the card root; levels there by their card names
        std::int64_t number = 1;  // 1: the unnumbered name
        bool own = false;         // the album's files are there already
        // Why a numbered folder was taken: the unnumbered one holds files
        // whose album can't be told, none of them another album's, or it is
        // no folder (a file, a link).
        bool unclear = false;
        bool notAFolder = false;
        // The folder an earlier run wrote the album to under other names,
        // below the card root: the caller moves it to `folder` before it
        // writes there (the search sees it there already).
        std::optional<std::string> movedFrom = std::nullopt;
        // Where such a folder keeps its name: the one it could not take, and why.
        std::optional<std::string> notMovedTo = std::nullopt;
        Kept kept = Kept::another;
    };

    struct Result {
        std::optional<Found> found;  // nothing: no name left, or the way is blocked
        // A level above the album folder is a link: its path below the card root.
        std::optional<std::string> link;
    };

    explicit AlbumFolders(CardTree& tree);

    // `folder` (as the card names it, "/"-separated) is an album's of the
    // plan or send.
    void hold(const std::string& folder, const std::string& owner);

    // The album's folder, claimed for it; the same answer again for its owner.
    Result find(const Album& album);

    // The card folders that hold the album's name or a numbered form of it,
    // for a caller that reads them all at once (CardTree::prefetch) first.
    std::vector<std::string> candidates(const Album& album);

    // Whose files a card folder holds, for this album.
    Holder holder(const std::string& folder, const Album& album);

    // Whose a card file (real path below the card root) is, for this album.
    Holder whose(const std::string& file, const Album& album);

private:
    // The card folders of the album's name and its numbered forms.
    struct Form {
        std::int64_t number = 1;
        bool twin = false;  // a case-blind twin of the name, not the name itself
        const CardTree::Entry* entry = nullptr;
    };
    struct Forms {
        std::string parent;               // as wanted
        std::string realParent;           // as the card names it
        std::optional<std::string> link;  // a link above the album folder
        bool unusable = false;            // a path that leaves the card
        std::vector<Form> there;          // lowest number first
    };
    Forms formsOf(const Album& album, const std::string& base);

    // The folder name of `base` with number n (1: none), as the card names it.
    static std::string nameFor(const Album& album, const std::string& base, std::int64_t n);
    Result search(const Album& album);
    // The album's folder `folder`, found at number n, takes `wanted` as its
    // name where it should and may; else it keeps its own.
    Found settle(const Album& album, const std::string& folder, std::int64_t n,
                 const std::string& wanted);
    // What the folder's songs say: whether any holds another album's or one
    // whose album can't be told, and whether any of the album's names it otherwise.
    struct Survey {
        bool others = false;
        bool namedOtherwise = false;
    };
    Survey survey(const std::string& folder, const Album& album);
    // A folder beside the album's name that holds files carrying its
    // identity and no other album's songs: where an earlier run named it otherwise.
    std::optional<std::string> besideIt(const Album& album, const Forms& forms);
    void claim(const std::string& folder, const std::string& owner);
    bool heldByAnother(const std::string& key, const std::string& owner) const;
    bool claimedByAnother(const std::string& key, const std::string& owner) const;

    CardTree& tree_;
    std::map<std::string, std::set<std::string>> held_;  // folder key -> owners
    std::map<std::string, std::string> claimed_;         // folder key -> owner
    std::map<std::string, Result> results_;              // owner + "\0" + base -> answer
    std::map<std::string, Holder> holders_;              // folder + "\0" + owner -> verdict
};

// A folder's name with " n" at its end, cut within `rules` as the planner
// cuts it.
std::string numberedFolder(std::string_view name, std::int64_t n, const SafeName::Rules& rules);

}  // namespace tarvik::SDCardTools
