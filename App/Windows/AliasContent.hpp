#pragma once
// What the artist alias editor shows and does to its working copy, as plain
// functions: the suggested groups of folder names written differently, the
// merge of a group into one name, the rows a save keeps, and the texts. No
// widgets here; the editor lays these out and the tests check them without a
// window. Pure; never fail.
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "Core/Naming/ArtistAliases.hpp"

namespace tarvik::AliasContent {

inline constexpr std::size_t maxSuggestions = 8;

// The groups of `artists` that share an alias key but are written
// differently, first 8 at most, leaving out every group whose written form an
// entry of `working` already covers.
std::vector<std::vector<std::string>> suggestions(const std::vector<std::string>& artists,
                                                  const ArtistAliases& working);
// An entry from each other name of `group` to `target`; one from `target` to
// itself when no name differs.
void merge(ArtistAliases& working, const std::vector<std::string>& group,
           const std::string& target);
// The entries a save writes: both sides hold more than blanks. The text stays
// as typed; the trimming only decides.
std::vector<ArtistAliases::Entry> kept(const std::vector<ArtistAliases::Entry>& entries);

// The rows a save refuses, by id, with the message each shows: a name that
// an earlier kept row already sends to another name, decided as the export
// decides it. Rows a save drops are never refused.
std::map<std::string, std::string> refusedRows(const ArtistAliases& working);

std::string groupText(const std::vector<std::string>& group);
std::string mergeItemText(const std::string& name);
std::string saveErrorText(const std::string& reason);
// Under a row whose name an earlier row already sends to `earlierTarget`.
std::string mappedTwiceText(const std::string& name, const std::string& earlierTarget);
// Beside Save when the file changed since the sheet read it (another window
// saved it): nothing was written, and the sheet now holds its rows and the
// other window's.
inline const std::string changedMeanwhileText =
    "ほかのウィンドウでアーティスト名のまとめが保存されていたので、読み直しました。"
    "そちらの行も下に加えてあります。確かめてから、もう一度保存してください。";
// Beside Save when some row is refused.
inline const std::string refusedSaveText =
    "同じ名前を別々の名前にそろえている行があります。赤い字の行を直してから保存してください。";
// Above the rows when the alias file is there but could not be read whole.
std::string damagedFileText(const std::filesystem::path& file, const std::string& problem);

}  // namespace tarvik::AliasContent
