#pragma once
// A small real music library for the tests that go the whole road: tagged
// FLAC tones that ffmpeg generates, in artist/album folders. Throws
// std::runtime_error when ffmpeg fails. Any thread.
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace tarvik::testing {

struct LibraryTrack {
    std::string artist;
    std::string album;
    int number = 1;
    std::string title;
};

// Two artists and three albums: "Aino Trio" with "Kesä" (2 songs) and "Talvi"
// (1 song), "Beta Band" with "Live" (2 songs).
const std::vector<LibraryTrack>& smallLibrary();

// Writes each track to root/artist/album/NN title.flac.
void makeMusicLibrary(const std::filesystem::path& root,
                      const std::vector<LibraryTrack>& tracks = smallLibrary());

// Every exported song (.mp3) below `root`, by its path below the root, with
// its modification time; empty when `root` is missing.
std::map<std::string, std::filesystem::file_time_type> exportedSongs(
    const std::filesystem::path& root);

}  // namespace tarvik::testing
