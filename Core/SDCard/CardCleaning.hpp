// Tidying a card (or any folder) in place: deleting the "._" and ".DS_Store"
// companions that desktop file managers leave beside music, and this
// program's own temporary files that a copy cut short left behind, and
// renaming music files, and the folders that hold them, to names the unit can
// read. Never throws: a rename that fails is named in the result and the rest
// goes on. Blocks on the file system; run it away from the user-interface
// thread. A stop ends it between two items: each rename is whole, the rest is
// left. Nothing guards against another writer on the same card meanwhile but
// for a copy under way, whose temporary file is never taken for a leftover.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

namespace tarvik::SDCardTools {

struct CleanResult {
    std::int64_t removed = 0;         // hidden files deleted, leftovers included
    std::int64_t renamed = 0;         // files and folders renamed
    std::vector<std::string> failed;  // names (as listed) whose renaming failed, in order tried

    bool changed() const { return removed > 0 || renamed > 0; }
    bool operator==(const CleanResult&) const = default;
};

// Folders whose names begin with "." are never entered. Only folders that
// hold a card audio file, directly or further down, are renamed; a folder's
// contents are handled before the folder itself. A folder whose name lacks
// only the Shift-JIS padding keeps its name: an export made it so and finds
// it again by it.
CleanResult clean(const std::filesystem::path& root, std::stop_token stop);

// Told on the cleaning's thread after each item it looked at: how many so far
// of how many the walk found.
using CleanProgress = std::function<void(std::int64_t done, std::int64_t total)>;

// The same, telling `progress` (which may be empty) how far it got.
CleanResult clean(const std::filesystem::path& root, const CleanProgress& progress,
                  std::stop_token stop);

}  // namespace tarvik::SDCardTools
