#pragma once
// Where the model takes the music folder to lie, without asking its file
// system: the places its watch last found (before the watch's first look, the
// folder as named), and the one record of where it was last seen, kept in the
// settings across starts. The selection reads the record to count a folder
// found on another volume as gone; the volumes read it so that the music
// drive is never taken for a card. The record is written here alone, by
// `note`. Owned by the model; GUI thread.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "App/Model/MusicDrive.hpp"
#include "App/Platform/FolderWatch.hpp"
#include "App/Platform/Settings.hpp"

namespace tarvik {

class MusicLocation {
public:
    using Mounted = std::vector<VolumeService::Mounted>;

    MusicLocation(Settings& settings, const FolderWatch& watch)
        : settings_(settings), watch_(watch) {}

    // The music folder's places as its watch last found them.
    std::vector<MusicDrive::Place> places(const std::string& musicFolder) const;
    // The places stand as the folder did after the last call to watch it: a
    // volume mounted before that call is in them.
    bool current(const std::string& musicFolder) const;

    // Whether the folder lies on the volume it was last seen on.
    bool whereLastSeen(const std::string& musicFolder, const Mounted& mounted) const;
    // The folder is seen there, where it lies now: the record says so.
    void note(const std::string& musicFolder, const Mounted& mounted);
    // Chosen by hand, the folder is there wherever it now sits.
    void forget();
    // Whether the folder was ever seen where the record says: a settings file
    // of an older version has ticks but no record.
    bool hasRecord(const std::string& musicFolder) const;

    // Whether the mounted volume holds the library (MusicDrive::holdsLibrary).
    bool holds(const VolumeService::Mounted& volume, const std::string& musicFolder) const;

private:
    std::optional<MusicDrive::LastSeen> lastSeen() const;

    Settings& settings_;
    const FolderWatch& watch_;
};

}  // namespace tarvik
