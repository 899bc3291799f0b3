// Finding the ffmpeg program: a fixed list of places is tried in order and the
// first regular file that this process may execute wins. Stateless and
// thread-safe; every call searches again. Finding nothing is no error here:
// the caller reports the missing program.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarvik::FFmpegLocator {

// What the search starts from; `current()` reads it from this process.
struct Places {
    std::optional<std::string> environmentValue;            // "TARVIK_FFMPEG", when set
    std::optional<std::filesystem::path> executable;        // the running program, links unresolved
    std::optional<std::filesystem::path> developmentBuild;  // recorded when the program was built
    std::vector<std::filesystem::path> fixed = {"/usr/local/bin/ffmpeg", "/usr/bin/ffmpeg"};

    static Places current();
};

// The first regular file (links followed) that this process may execute,
// among: the environment value; the delivered copy at
// <exe dir>/../libexec/tarvik/ffmpeg; "ffmpeg" beside the executable; the
// development build; the fixed places. The executable's links are resolved
// first; an executable that can't be resolved adds no candidate.
std::optional<std::filesystem::path> locate(const Places& places);
std::optional<std::filesystem::path> locate();

}  // namespace tarvik::FFmpegLocator
