// The albums found in folders exported earlier, as the send window lists
// them, and whether an album is already complete on a card. Every function
// blocks on the file system, never throws (what can't be read contributes
// nothing) and keeps no state; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::SDCardTools {

struct Album {
    std::string relativePath;         // NFC; below the export folder, "/"-joined; the identity
    std::filesystem::path sourceDir;  // the album folder as found
    std::string artist;               // the artist folder's name
    std::string name;                 // the last component of relativePath
    std::vector<std::string> files;   // card audio files directly in sourceDir, as listed
    std::int64_t bytes = 0;           // their sizes added up; an unreadable one counts 0

    const std::string& id() const { return relativePath; }
    bool operator==(const Album&) const = default;
};

// The one order of names here: NFC forms by the shared name comparison.
bool nameOrder(std::string_view a, std::string_view b);

using NameOrder = std::function<bool(std::string_view, std::string_view)>;

// The album at `albumFolder` below `exportFolder`, its files sorted by `order`.
Album makeAlbum(const std::filesystem::path& albumFolder, std::vector<std::string> files,
                std::int64_t bytes, const std::filesystem::path& exportFolder,
                const NameOrder& order = nameOrder);

// Every folder below `exportFolder`, at any depth, that directly holds card
// audio files, sorted by relativePath.
std::vector<Album> albumFolders(const std::filesystem::path& exportFolder);

// The albums of several export folders, each listed once: of two albums with
// the same relativePath the later one found wins. A folder that itself holds
// audio files is an album too, named after its parent folder and itself.
std::vector<Album> exportedAlbums(const std::vector<std::filesystem::path>& exportFolders);

// Whether the album's own card folder (its card name or a numbered one, told
// by the rule the send follows: the identity its files carry, or for files
// without one their bytes or their tags and length) holds a whole copy of
// every one of its files, as the send would leave it: under its card name
// or a name the user gave it, one carrying the identity with the file's
// size and naming the album as the file does. A folder an earlier export
// named otherwise that the send would rename holds none. Each album
// answers for itself, whatever others share its card name.
// Never true for an album two of whose files would be one file on the card,
// nor once the stop is requested.
bool isOnCard(const Album& album, const std::filesystem::path& cardRoot);

// The same, and never true for an album with a file whose card path is in
// `shared` (sharedCardPaths of the albums listed with it).
bool isOnCard(const Album& album, const std::filesystem::path& cardRoot,
              const std::set<std::string>& shared, std::stop_token stop = {});

// Where one of the album's files lands below the card root, as a card that
// ignores letter case and normalisation sees it: NFC and lower-cased.
std::string cardPathKey(const Album& album, std::string_view file);

// The card paths (cardPathKey) that more than one file of one album would be
// written to: names that differ in the export but are one file on a card.
// Albums that share a card folder take numbered folders instead.
std::set<std::string> sharedCardPaths(const std::vector<Album>& albums);

// Whether `namesOnCard` (NFC forms) holds the card name of every file.
bool allFilesPresent(const std::vector<std::string>& files,
                     const std::set<std::string>& namesOnCard);

}  // namespace tarvik::SDCardTools

template <>
struct std::hash<tarvik::SDCardTools::Album> {
    std::size_t operator()(const tarvik::SDCardTools::Album& album) const noexcept;
};
