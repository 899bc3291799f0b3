#pragma once
// Where the program keeps and finds its files on Linux: the XDG configuration
// and data folders, the support folder "Tarvik" with the user's profiles, the
// alias file and the catalogue cache, and the delivered resources. Pure path
// arithmetic over the environment: nothing here creates a folder. Any thread.
#include <QString>
#include <filesystem>
#include <optional>

namespace tarvik {

namespace AppPaths {

// $XDG_CONFIG_HOME, else ~/.config.
QString configDirectory();
// $XDG_DATA_HOME/Tarvik, else ~/.local/share/Tarvik.
std::filesystem::path supportDirectory();
std::filesystem::path profilesDirectory();
std::filesystem::path aliasesFile();
std::filesystem::path catalogCacheFile();
std::filesystem::path legacyCatalogCacheFile();

// Where the desktop mounts cards: /run/media/$USER or /media/$USER where one
// exists, else /media. File choosers for a card start there.
std::filesystem::path mediaFolder();

// The delivered resources ("profiles", "Licenses"): <exe dir>/../share/tarvik when
// installed, else the source tree's App/Resources for a program run from its build
// tree; absent when neither exists.
std::optional<std::filesystem::path> resourcesDirectory();

}  // namespace AppPaths

}  // namespace tarvik
