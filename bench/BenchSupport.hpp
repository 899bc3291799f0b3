// What the benchmark programs share: timing, running a command that must
// succeed, a private work folder, and generating tagged audio with ffmpeg.
// Benchmarks only; never part of the program.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvik::bench {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start);

// One argument quoted for /bin/sh.
std::string shellQuoted(std::string_view text);

// Runs the program; throws std::runtime_error with its standard error when it fails.
void runOrThrow(const std::filesystem::path& program, const std::vector<std::string>& arguments);

// A new folder "tarvik-bench-XXXXXX" in the temporary directory, removed with
// its contents when the object goes.
class WorkFolder {
public:
    WorkFolder();
    ~WorkFolder();
    WorkFolder(const WorkFolder&) = delete;
    WorkFolder& operator=(const WorkFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

struct GeneratedTrack {
    std::filesystem::path file;  // the extension chooses the container
    std::string source;          // an ffmpeg lavfi source, e.g. "sine=duration=1"
    std::vector<std::pair<std::string, std::string>> metadata = {};
};

// Makes the tracks with ffmpeg, `width` at a time, creating their folders.
void generateTracks(const std::filesystem::path& ffmpeg, const std::vector<GeneratedTrack>& tracks,
                    std::size_t width);

}  // namespace tarvik::bench
