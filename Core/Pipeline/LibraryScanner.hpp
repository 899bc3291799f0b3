// Reads the user's music folder (artist folders of album folders of audio
// files): which artists it holds, which audio files a selection of artists and
// albums covers, and what kind of folder the user picked. It only reads the
// file system, keeps no state, never throws and may run on any thread; a
// folder that cannot be listed simply counts as empty.
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

struct LibraryScanner {
    // What a chosen folder is. Unused payload fields stay empty, so the
    // defaulted equality compares the kind and every payload field.
    struct Level {
        enum class Kind { library, artist, album };

        Kind kind = Kind::library;
        std::filesystem::path root;  // the music folder above the chosen one
        std::string artist;          // NFC; a name that is not UTF-8 keeps its bytes
        std::string album;           // NFC; likewise

        static Level library() { return {}; }
        static Level artistFolder(std::filesystem::path root, std::string artist);
        static Level albumFolder(std::filesystem::path root, std::string artist, std::string album);

        bool operator==(const Level&) const = default;
    };

    std::filesystem::path root;

    // "flac", "wav", "aiff", "aif", "mp3", "m4a".
    static const std::set<std::string>& audioExtensions();
    // Folder names never entered, compared with the name as listed.
    static const std::set<std::string>& skippedFolderNames();

    // Whether the text after the name's last "." is an audio extension, in any
    // letter case.
    static bool hasAudioExtension(std::string_view name);

    // The visible artist folders of `root`, in NFC, in name order. A name that
    // is not UTF-8 keeps its bytes, so that two such folders stay two. Nothing
    // where `root` could not be listed: a folder that went, or failed, while
    // it was read is not an empty one.
    std::optional<std::vector<std::string>> subfolderNames() const;

    // The selected audio files (regular files only), depth-first in name
    // order. An entry is an artist folder's name or "artist/album", compared
    // with the names on disk as `text::nfcName` gives them; the empty
    // selection means everything. The paths keep the names as listed on
    // disk. Each real folder is walked once, however many links lead to it.
    // A stop ends the walk early and the list is then incomplete: the caller
    // checks its own token.
    std::vector<std::filesystem::path> audioFiles(const std::set<std::string>& selection,
                                                  std::stop_token stop = {}) const;

    // A folder of audio files without sub-folders is an album; one whose
    // sub-folders mostly hold audio is an artist; anything else a library.
    static Level detectLevel(const std::filesystem::path& chosen);

    // The visible sub-folders of a folder, in listing order.
    static std::vector<std::filesystem::path> subfolders(const std::filesystem::path& folder);
    // Whether a visible entry of the folder (of any kind) has an audio extension.
    static bool folderHasAudio(const std::filesystem::path& folder);
};

}  // namespace tarvik
