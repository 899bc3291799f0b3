// What a run or a send sees of a card while it decides where albums go: the
// names in each folder with their kinds, read once; where a relative path
// lies, each level matched as a FAT or exFAT card matches names (letter case,
// normal form and, for folders, the Shift-JIS padding ignored); and the
// identities each file carries and what else it says of itself
// (AudioFacts), each read once. One object per run or send, used on one thread, given that
// run's stop. It never writes: a folder that can't be read holds nothing. It
// throws nothing but Cancelled, from the calls that read files once the stop
// is requested, even in the middle of a file. It sees the card as it was
// when first asked, plus what `note` adds and `moved` moves.
#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Convert/AudioFacts.hpp"
#include "Core/Naming/PosixFS.hpp"
#include "Core/SDCard/CardVolumes.hpp"

namespace tarvik::SDCardTools {

class CardTree {
public:
    using Kind = EntryKind;  // other: a device, a pipe, a socket

    struct Entry {
        std::string name;  // as listed
        Kind kind = Kind::other;
        std::string nfc;        // the name in NFC (bytes that are no UTF-8 as they are)
        std::string fileKey;    // the name as the card tells files apart
        std::string folderKey;  // the same, a folder's padding left out
    };

    // Where a relative path lies below the root.
    struct Located {
        std::string relative;    // found levels by their names on the card, the rest in NFC
        std::string key;         // the path as the card tells paths apart (folderKey, fileKey)
        std::size_t found = 0;   // leading levels there
        std::size_t levels = 0;  // levels of the path
        // A level above the last that is a link or no folder: its path, as found.
        std::optional<std::string> blockedAt;
        bool blockedByLink = false;
        Kind kind = Kind::other;  // of the last level, when it is there

        bool exists() const { return found == levels && !blockedAt; }
        // A link on the way or at the path itself: its path, as found.
        std::optional<std::string> link() const {
            if (blockedByLink) return blockedAt;
            if (exists() && kind == Kind::link) return relative;
            return std::nullopt;
        }
    };

    explicit CardTree(PosixFS::Root root, std::stop_token stop = {});

    const PosixFS::Root& root() const { return root_; }
    std::filesystem::path fullPath(std::string_view relative) const;

    // The entries of a folder given by its real relative path ("" for the root).
    const std::vector<Entry>& entries(const std::string& folder);

    // Finds `relative` ("/"-separated levels, the last one a file unless
    // `lastIsFolder`); each level by its own name, else by its NFC form, else
    // by its card key. Nothing for an absolute path or a "." or ".." level.
    std::optional<Located> locate(std::string_view relative, bool lastIsFolder = false);

    // The identities a file carries, by its real relative path. Throws
    // Cancelled once the stop is requested and the file is not read yet.
    const AlbumIdentity::Carried& carried(const std::string& file);
    // Its album identity alone.
    const std::optional<std::string>& identity(const std::string& file) {
        return carried(file).album;
    }

    // What a file says of itself (tags, length, whether it is whole), by its
    // real relative path; nothing when it can't be opened. Throws Cancelled
    // as `identity` does.
    const std::optional<AudioFacts::Facts>& facts(const std::string& file);

    // Reads the identities of these files (real relative paths) not read yet,
    // a few at a time on helper threads that end before it returns: a card
    // through FUSE answers every open with a round trip, and reads overlap.
    // A stop ends every read under way; what was read is kept, and Cancelled
    // is thrown when any file is left unread.
    void readIdentities(const std::vector<std::string>& files);

    // Lists these folders (real relative paths) and reads the identities and
    // facts of their audio files at once, as readIdentities does: what a run
    // will ask of them album by album, asked together. A stop ends it early, without
    // throwing: a folder not wholly read is read again when asked.
    void prefetch(const std::vector<std::string>& folders);

    // A regular file, not hidden, of a card audio type or of a kind a music
    // library holds (FLAC, Ogg, Opus, M4B, WAV, AIFF): whose a folder is
    // weighs them all.
    static bool isAudioFile(const Entry& entry);

    // From now on the levels of `relative` (real names where found) are there:
    // the caller is about to write a file at that path (a folder with
    // `lastIsFolder`).
    void note(const std::string& relative, bool lastIsFolder = false);

    // From now on the folder `from` (real relative path) lies at `to`, with
    // all it holds and all that was read of it: the caller moves it there
    // before it writes into it. Listings of `from`'s folder held elsewhere
    // change.
    void moved(const std::string& from, const std::string& to);

    // Names a FAT or exFAT card takes for one: NFC and lower case; a
    // folder's trailing ideographic spaces (the Shift-JIS padding) dropped.
    static std::string fileKey(std::string_view name);
    static std::string folderKey(std::string_view name);
    // A relative path as the card tells paths apart, the form of
    // `Located::key`: the last level a file unless `lastIsFolder`.
    static std::string pathKey(std::string_view relative, bool lastIsFolder = false);

private:
    std::vector<Entry>& listing(const std::string& folder);

    PosixFS::Root root_;
    std::stop_token stop_;
    std::map<std::string, std::vector<Entry>> listings_;             // by real relative folder
    std::map<std::string, AlbumIdentity::Carried> identities_;       // by real relative file
    std::map<std::string, std::optional<AudioFacts::Facts>> facts_;  // by real relative file
};

}  // namespace tarvik::SDCardTools
