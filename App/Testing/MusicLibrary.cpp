#include "App/Testing/MusicLibrary.hpp"

#include <cstdio>

#include "Core/Testing/Audio.hpp"

namespace tarvik::testing {

const std::vector<LibraryTrack>& smallLibrary() {
    static const std::vector<LibraryTrack> tracks = {
        {"Aino Trio", "Kesä", 1, "Aamu"},   {"Aino Trio", "Kesä", 2, "Ilta"},
        {"Aino Trio", "Talvi", 1, "Lumi"},  {"Beta Band", "Live", 1, "Opening"},
        {"Beta Band", "Live", 2, "Encore"},
    };
    return tracks;
}

void makeMusicLibrary(const std::filesystem::path& root, const std::vector<LibraryTrack>& tracks) {
    for (const LibraryTrack& track : tracks) {
        char number[8];
        std::snprintf(number, sizeof number, "%02d", track.number);
        makeTone(
            root / track.artist / track.album / (std::string(number) + " " + track.title + ".flac"),
            {.seconds = 0.5,
             .frequency = 330 + 110 * track.number,
             .metadata = {{"artist", track.artist},
                          {"album_artist", track.artist},
                          {"album", track.album},
                          {"title", track.title},
                          {"track", std::to_string(track.number)}}});
    }
}

std::map<std::string, std::filesystem::file_time_type> exportedSongs(
    const std::filesystem::path& root) {
    std::map<std::string, std::filesystem::file_time_type> songs;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
        if (it->is_regular_file() && it->path().extension() == ".mp3")
            songs[std::filesystem::relative(it->path(), root).string()] = it->last_write_time();
    return songs;
}

}  // namespace tarvik::testing
