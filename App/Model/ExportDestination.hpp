#pragma once
// The one check of whether a real run may write into the chosen destination:
// the start button, the card step and the run itself all ask it, so that
// none of them lets through what another refuses. A run must never land in a
// folder the user did not mean: an empty choice, a folder that is gone, or the
// empty mount folder a card leaves behind on the root file system once it is
// unmounted; nor start on a folder it cannot write to (a card with its
// write-protect switch on, or one the system mounted read-only after an error),
// where every song would be converted in vain. Pure checks of the file system,
// which may not answer: the model asks them on a worker (VolumeLooks), never
// on the GUI thread; any thread; never fails.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "App/Model/RunState.hpp"

namespace tarvik::ExportDestination {

inline constexpr std::string_view notFound =
    "書き出し先が見つかりません。SD カードかフォルダを選び直してください。";
inline constexpr std::string_view notConnected =
    "カードがつながっていません。差し直すか、ほかのフォルダを選んでください。";
// Asked, not answered yet: its file system is slow or does not answer.
inline constexpr std::string_view checking = "確認しています…";

// Where removable media are mounted: a volume root sits right below these
// ("/mnt/sd") or one folder further down ("/media/<user>/CARD").
struct MountBases {
    std::vector<std::filesystem::path> direct = {"/mnt", "/media"};
    std::vector<std::filesystem::path> perUser = {"/media", "/run/media"};
};

// True when `path` is an empty folder right where a volume would be mounted,
// but no volume is mounted there (it lies on the same file system as its
// parent). A folder with something in it is somebody's folder, not a mount
// point waiting for its card.
bool isFormerVolumeRoot(const std::filesystem::path& path, const MountBases& bases = {});

// Why a real run may not write to `destPath`, in the words the user reads
// (notFound: not chosen, gone or no folder; notConnected: an empty mount
// folder; "書き込めません: " + destPath + "（" + the system's cause + "）" for a
// folder that takes no writes), or nothing when it may. A listed volume
// (canonically equal path) is mounted, whatever the file system says.
std::optional<std::string> refusal(const std::string& destPath, const std::vector<Volume>& volumes,
                                   const MountBases& bases = {});

}  // namespace tarvik::ExportDestination
