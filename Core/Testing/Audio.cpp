#include "Core/Testing/Audio.hpp"

#include <stdexcept>

#include "Core/Platform/NumberFormat.hpp"
#include "Core/Testing/Shell.hpp"

namespace tarvik::testing {

void makeTone(const std::filesystem::path& path, const ToneOptions& options) {
    std::filesystem::create_directories(path.parent_path());
    std::vector<std::string> words = {"ffmpeg",
                                      "-nostdin",
                                      "-hide_banner",
                                      "-loglevel",
                                      "error",
                                      "-y",
                                      "-f",
                                      "lavfi",
                                      "-i",
                                      "sine=frequency=" + std::to_string(options.frequency) +
                                          ":sample_rate=" + std::to_string(options.sampleRate) +
                                          ":duration=" + numbers::fixed(options.seconds, 3),
                                      "-af",
                                      "volume=" + numbers::fixed(options.volumeDB, 2) + "dB",
                                      "-ac",
                                      std::to_string(options.channels)};
    for (const auto& [key, value] : options.metadata) {
        words.push_back("-metadata");
        words.push_back(key + "=" + value);
    }
    words.insert(words.end(), options.extraArguments.begin(), options.extraArguments.end());
    if (!options.pipedFormat.empty()) {
        std::string command;
        for (const std::string& word : words) command += shellQuote(word) + " ";
        words = {"sh", "-c",
                 command + "-f " + shellQuote(options.pipedFormat) + " - > " +
                     shellQuote(path.string())};
    } else {
        words.push_back(path.string());
    }
    if (runCommand(words).exitCode != 0) {
        throw std::runtime_error("ffmpeg could not make " + path.string());
    }
}

void makePicture(const std::filesystem::path& path, int width, int height) {
    std::filesystem::create_directories(path.parent_path());
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    if (runCommand({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi",
                    "-i", "testsrc=size=" + size, "-frames:v", "1", path.string()})
            .exitCode != 0) {
        throw std::runtime_error("ffmpeg could not make " + path.string());
    }
}

}  // namespace tarvik::testing
