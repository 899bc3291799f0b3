// Audio files (and cover pictures) that ffmpeg itself generates, for tests that run the real
// program: a sine tone of a chosen length in any container ffmpeg can write,
// with tags given as -metadata pairs.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace tarvik::testing {

struct ToneOptions {
    double seconds = 1.0;
    int frequency = 440;
    int sampleRate = 44100;
    int channels = 2;
    double volumeDB = 0.0;  // gain applied to the tone
    std::vector<std::pair<std::string, std::string>> metadata = {};
    std::vector<std::string> extraArguments = {};  // placed before the output path
    // When given, ffmpeg writes this format to its standard output, which
    // fills the file: a pipe to ffmpeg, so its headers are written before
    // the stream's length is known and never again.
    std::string pipedFormat = {};
};

// Writes the tone to `path`; the extension chooses the container. Throws
// std::runtime_error when ffmpeg fails.
void makeTone(const std::filesystem::path& path, const ToneOptions& options = {});

// A test-card picture of the given size; the extension chooses the format
// (".png", ".jpg"). Throws std::runtime_error when ffmpeg fails.
void makePicture(const std::filesystem::path& path, int width, int height);

}  // namespace tarvik::testing
