#pragma once
// Whether a real run may write into the chosen destination. A run must never
// land in a folder the user did not mean: an empty choice, a folder that is
// gone, or the empty mount folder a card leaves behind on the root file system
// once it is unmounted. Pure checks of the file system; any thread; never fails.
#include <filesystem>
#include <string>
#include <vector>

#include "App/Model/RunState.hpp"

namespace tarvik::ExportDestination {

// Where removable media are mounted: a volume root sits right below these
// ("/mnt/sd") or one folder further down ("/media/<user>/CARD").
struct MountBases {
    std::vector<std::filesystem::path> direct = {"/mnt", "/media"};
    std::vector<std::filesystem::path> perUser = {"/media", "/run/media"};
};

// True when `path` is a folder right where a volume would be mounted, but no
// volume is mounted there (it lies on the same file system as its parent).
bool isFormerVolumeRoot(const std::filesystem::path& path, const MountBases& bases = {});

// True when a real run may write to `destPath`: it is not empty, names an
// existing folder, and is a listed volume or no former volume root.
bool isUsable(const std::string& destPath, const std::vector<Volume>& volumes,
              const MountBases& bases = {});

}  // namespace tarvik::ExportDestination
