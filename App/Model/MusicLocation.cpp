#include "App/Model/MusicLocation.hpp"

#include <system_error>

namespace tarvik {
namespace {

namespace fs = std::filesystem;

// The music folder, the mount point of the volume it was last seen on ("" for
// none) and that volume's file-system identity ("" for none given).
constexpr const char* lastSeenKey = "srcVolume";

}  // namespace

std::vector<MusicDrive::Place> MusicLocation::places(const std::string& musicFolder) const {
    if (musicFolder.empty()) return {};
    if (watch_.folder() == fs::path(musicFolder) && !watch_.lastLook().places.empty())
        return watch_.lastLook().places;
    // Not looked at yet: where it is named, the rest unknown.
    std::error_code error;
    const fs::path named = fs::absolute(musicFolder, error);
    return {{.path = error ? fs::path(musicFolder) : named.lexically_normal(), .device = {}}};
}

bool MusicLocation::current(const std::string& musicFolder) const {
    return musicFolder.empty() ||
           (watch_.folder() == fs::path(musicFolder) && watch_.lookCurrent());
}

bool MusicLocation::whereLastSeen(const std::string& musicFolder, const Mounted& mounted) const {
    return MusicDrive::whereLastSeen(MusicDrive::seenNow(musicFolder, mounted, places(musicFolder)),
                                     lastSeen());
}

void MusicLocation::note(const std::string& musicFolder, const Mounted& mounted) {
    const MusicDrive::LastSeen now = MusicDrive::seenNow(musicFolder, mounted, places(musicFolder));
    if (lastSeen() == now) return;
    settings_.setStringList(lastSeenKey,
                            {now.musicFolder, now.mountPoint, now.fileSystemId.value_or("")});
}

void MusicLocation::forget() {
    settings_.remove(lastSeenKey);
}

bool MusicLocation::hasRecord(const std::string& musicFolder) const {
    const std::optional<MusicDrive::LastSeen> last = lastSeen();
    return last && last->musicFolder == musicFolder;
}

bool MusicLocation::holds(const VolumeService::Mounted& volume,
                          const std::string& musicFolder) const {
    return MusicDrive::holdsLibrary(volume, places(musicFolder), lastSeen(), musicFolder);
}

std::optional<MusicDrive::LastSeen> MusicLocation::lastSeen() const {
    const auto stored = settings_.stringList(lastSeenKey);
    if (!stored || stored->size() != 3) return std::nullopt;
    const std::string& id = (*stored)[2];
    return MusicDrive::LastSeen{
        .musicFolder = (*stored)[0],
        .mountPoint = (*stored)[1],
        .fileSystemId = id.empty() ? std::nullopt : std::optional<std::string>(id)};
}

}  // namespace tarvik
