#pragma once
// What the music-folder step, the artist sidebar and the card step show, as
// plain functions of the model's values: the status line and the selection
// count, the sidebar's tick rules, album entries and empty state, the
// destination list, the song estimate, the profile labels and summary, and the
// profile copied for "この機種をもとに新しく作る…". No widgets here; the views
// lay these out and the tests check them without a window. Pure; never fail.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "App/Model/RunState.hpp"
#include "Core/Profiles/DeviceProfile.hpp"

namespace tarvik::StepContent {

// Music folder step.
struct Status {
    std::string text;
    bool success = false;  // the selection count, in the success colour
    bool warning = false;  // the music folder is gone, in the warning colour; else secondary
};
// While a file system is asked and has not answered yet.
inline constexpr std::string_view checkingText = "確認しています…";
// `folderMissing`: the chosen music folder cannot be listed (AppModel::musicFolderMissing);
// `checking`: its first look has not answered yet (AppModel::musicFolderChecking).
Status musicStatus(const std::string& srcPath, const std::set<std::string>& selected,
                   bool folderMissing, bool checking = false);
std::string selectionCount(const std::set<std::string>& selected);
std::string folderButtonText(const std::string& srcPath);

// Artist sidebar. Selection entries are NFC: an artist folder name, or an
// artist, "/" and an album folder name.
bool isAlbumEntry(const std::string& entry);
bool isTicked(const std::set<std::string>& selected, const std::string& artist);
// Ticking an artist takes its album entries out: the whole artist covers them.
std::set<std::string> ticked(std::set<std::string> selected, const std::string& artist);
std::set<std::string> unticked(std::set<std::string> selected, const std::string& artist);
std::set<std::string> withShown(std::set<std::string> selected,
                                const std::vector<std::string>& shown);
// The album entries in plain scalar order, and how a row shows one.
std::vector<std::string> albumEntries(const std::set<std::string>& selected);
std::string albumEntryText(const std::string& entry);
// An artist's row: the name as best it can be read and, for a folder name
// that is not UTF-8, the note that marks it as not read for certain.
struct ArtistRow {
    std::string text;
    std::optional<std::string> unreadable;

    bool operator==(const ArtistRow&) const = default;
};
inline constexpr std::string_view unreadableNameNote =
    "このフォルダの名前は UTF-8 ではないため、正しく読めないことがあります";
ArtistRow artistRow(const std::string& name);
std::string sidebarEmptyText(const std::string& srcPath, bool folderMissing, bool checking = false);
std::string countTail(std::size_t artistCount);

// Card and unit step.
struct DestinationEntry {
    std::string tag;  // what goes into destPath
    std::string text;

    bool operator==(const DestinationEntry&) const = default;
};
// No removable volume and no destination: the hint to insert a card instead of the list.
bool showsInsertHint(const std::vector<Volume>& volumes, const std::string& destPath);
std::vector<DestinationEntry> destinationEntries(const std::vector<Volume>& volumes,
                                                 const std::string& destPath,
                                                 const Volume* destination);
// A destination that is a plain folder rather than a listed volume.
bool isPlainFolder(const std::string& destPath, const Volume* destination);
// "約 N 曲入ります", with the run's headroom of `reserveMB` taken off the free
// space as the review sheet does; nothing without a destination volume, a
// profile or a positive bit rate.
std::optional<std::string> capacityText(const Volume* destination, const DeviceProfile* profile,
                                        std::int64_t reserveMB);
// The path without its last component; a trailing "/" is ignored, "/" stays "/".
std::string parentFolder(const std::string& path);
std::string profileItemLabel(const DeviceProfile& profile);
std::string profileSummary(const DeviceProfile& profile);
DeviceProfile newProfileFrom(const DeviceProfile& source);

}  // namespace tarvik::StepContent
