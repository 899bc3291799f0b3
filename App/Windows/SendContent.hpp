#pragma once
// What the send window shows and decides, as plain functions of a snapshot of
// its fields and the model's values: the cards, the busy folders, the tests on
// the source folder, the filter, the ticks, the selection bar, the drop checks
// and the texts of the sending and result pages. No widgets and no file
// system: what a folder holds comes in as an answer; GUI thread or any.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "App/Model/RunState.hpp"
#include "Core/SDCard/CardSending.hpp"
#include "Core/SDCard/ExportedAlbums.hpp"

namespace tarvik::SendContent {

using SDCardTools::Album;
using SDCardTools::SendResult;

// The page the window shows.
struct Choosing {
    bool operator==(const Choosing&) const = default;
};
struct Sending {
    std::int64_t done = 0;
    std::int64_t total = 0;
    std::string name = {};
    bool operator==(const Sending&) const = default;
};
struct Finished {
    SendResult result;
    bool stopped = false;  // "中止" ended it: the counts are those reached
    bool operator==(const Finished&) const = default;
};
struct Failed {
    std::string message;
    bool operator==(const Failed&) const = default;
};
using Phase = std::variant<Choosing, Sending, Finished, Failed>;

// What the derived values read of the model.
struct ModelFacts {
    std::string srcPath = {};
    std::string destPath = {};
    std::string lastExportPath = {};
    std::vector<Volume> volumes = {};
    std::set<std::string> writingFolders = {};
};

// The first card whose path is `cardPath`; none for an empty path.
std::optional<Volume> selectedCard(const std::vector<Volume>& cards, const std::string& cardPath);
std::set<std::string> busyFolders(const std::string& source, const ModelFacts& model);
bool sourceIsMusicLibrary(const std::string& source, const std::string& srcPath);
// `lastExportThere`: whether the last export folder was found there, as the
// window last asked its file system (this function asks nothing).
std::string suggestedSource(const ModelFacts& model, bool lastExportThere);
// The suggested-source button shows only for a suggestion outside the library
// (compared as stored).
bool offersSuggestion(const std::string& suggested, const std::string& srcPath);

std::vector<Album> filteredAlbums(const std::vector<Album>& albums, const std::string& filter);
std::vector<Album> chosenAlbums(const std::vector<Album>& albums,
                                const std::set<std::string>& picked,
                                const std::set<std::string>& busy);
std::set<std::string> pickAllNotOnCard(const std::vector<Album>& filtered,
                                       const std::set<std::string>& onCard,
                                       const std::set<std::string>& busy);
bool hasDeepAlbum(const std::vector<Album>& albums);

struct ArtistGroup {
    std::string artist;
    std::vector<Album> albums;  // in the order of the filtered list
};
// Artists in the shared name order (stable), albums in list order.
std::vector<ArtistGroup> artistGroups(const std::vector<Album>& filtered);
// On when the group has a selectable (not busy) album and all of them are ticked.
bool artistTicked(const ArtistGroup& group, const std::set<std::string>& picked,
                  const std::set<std::string>& busy);
// Ticks or unticks the group's selectable albums; busy ones keep their state.
void setArtistTicked(const ArtistGroup& group, bool on, std::set<std::string>& picked,
                     const std::set<std::string>& busy);

struct SelectionBar {
    std::string text;  // "選択: 2 アルバム・5 曲・3 MB"
    bool exceedsFreeSpace = false;
};
SelectionBar selectionBar(const std::vector<Album>& chosen, const std::optional<Volume>& card);

// "名前 — 空き 1.2 GB"
std::string cardEntry(const Volume& card);
// "12 曲・48 MB"
std::string albumSize(const Album& album);

// The paths a drop may send: none on the card itself. A refusal text when the
// drop must be refused instead (no card, or folders of the music library).
struct DropCheck {
    std::vector<std::string> candidates;
    std::optional<std::string> refusal;
};
DropCheck checkDrop(const std::vector<std::string>& paths, const std::optional<Volume>& card,
                    const std::string& srcPath);

inline constexpr const char* noCardForDrop =
    "SD カードを差し込んでから、もう一度ドラッグしてください。";
inline constexpr const char* noAlbumInDrop =
    "ドラッグしたフォルダに音楽のアルバムが見つかりませんでした（MP3 "
    "などが入ったフォルダを落としてください）。";

// Sending page.
double sendingFraction(const Sending& sending);
std::string sendingText(const Sending& sending);

// Finished page: the headline, the count line, the line of files not sent,
// the albums that went to another folder than their card name, the clean
// line and the line of names left unfixed (empty when there is nothing to
// say). Only a send that stopped on its own with every file on the card
// reads as a success.
struct FinishedTexts {
    std::string headline;
    std::string counts;
    std::string notSent;
    // "「Best」には別のアルバムがあるため「Best 2」に送りました", one line each.
    std::string places;
    std::string clean;
    std::string unfixed;
    bool success = false;
};
FinishedTexts finishedTexts(const Finished& finished);

}  // namespace tarvik::SendContent
