#pragma once
// Where a folder's contents are really read from: the folder itself, every
// link on its path followed, and the folders its entries link to (the
// library's scanner follows such links), each with its file system's device
// number. Asks the file system and so may wait on it: the music folder's
// watch gathers these on its own worker, and the model only reads what it
// found. Plain functions; any thread; never fail: what can't be examined is
// left out.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

namespace tarvik {

struct FolderPlace {
    std::filesystem::path path;             // links resolved
    std::optional<std::uint64_t> device{};  // absent where nothing is there to examine

    bool operator==(const FolderPlace&) const = default;
};

namespace FolderPlaces {

// Where an absolute path leads, each link on the way followed as far as the
// path is there and the rest taken as written: for a link whose target is
// gone this still names the target (a drive not mounted yet).
std::filesystem::path resolved(const std::filesystem::path& path);

// The folder first, as it resolves, with a device where it is there; then,
// once each, the folders its entries link to. A link that leads to no folder
// leads nowhere and is left out. Nothing for an empty path.
std::vector<FolderPlace> of(const std::filesystem::path& folder);

}  // namespace FolderPlaces
}  // namespace tarvik
