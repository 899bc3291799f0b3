#pragma once
// The volume list as the windows show it, built from what the system reports
// of its mounted volumes, and the texts that report a card's cleaning. Plain
// functions of their arguments: any thread, never throw.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "App/Model/RunState.hpp"
#include "App/Platform/VolumeService.hpp"
#include "Core/SDCard/CardCleaning.hpp"

namespace tarvik {

// Removable, ejectable, or known not to be internal; a missing fact counts as
// false, and a missing "internal" does not make a volume removable.
bool countsAsRemovable(const VolumeService::Mounted& volume);

// Every volume but the root file system, removable ones first, then by name in
// the scalar order of the canonical forms ("B" before "a"); stable otherwise.
std::vector<Volume> volumeList(const std::vector<VolumeService::Mounted>& mounted);

// The name a volume is shown by in the clean notice: the last component of its path.
std::string volumeFolderName(const std::filesystem::path& path);

// What the automatic cleaning of a fresh mount looks at.
struct AutoCleanFacts {
    bool autoCleanSD = false;
    bool busy = false;  // planning, reviewing or running
    std::string destPath;
    bool sendingToCard = false;
    bool isCardVolume = false;
};

// Clean only when the user asked for it, the volume is a card, and neither the
// export (its destination, canonically equal) nor the send window writes to it.
bool autoCleanAllowed(const AutoCleanFacts& facts, const std::filesystem::path& volume);

// The main window's notice after an automatic cleaning of the card `name`;
// nothing when the cleaning removed, renamed and failed nothing.
std::optional<std::string> cleanNoticeText(const std::string& name,
                                           const SDCardTools::CleanResult& result);

// The folder the menu's cleaning walks: the chosen path in NFC when that form
// names a folder, else the path as the chooser gave it.
std::filesystem::path interactiveCleanRoot(const std::filesystem::path& chosen);

// The informative text of the alert after the menu's cleaning.
std::string cleanAlertText(const SDCardTools::CleanResult& result);

// The busy sheet of the menu's cleaning: its title, and how far it got
// (nothing found yet while the folder is still being walked).
inline constexpr const char* cleaningTitle = "SD カードを掃除しています…";
std::string cleaningCountText(std::int64_t done, std::int64_t total);

// What the user reads when a card could not be ejected.
std::string ejectFailureText(const std::string& name, const std::string& reason);

}  // namespace tarvik
