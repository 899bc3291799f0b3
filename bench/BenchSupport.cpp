#include "bench/BenchSupport.hpp"

#include <stdlib.h>

#include <optional>
#include <stdexcept>
#include <system_error>

#include "Core/Platform/BoundedGroup.hpp"
#include "Core/Platform/ChildProcess.hpp"

namespace tarvik::bench {

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string shellQuoted(std::string_view text) {
    std::string result = "'";
    for (char c : text) {
        if (c == '\'') {
            result += "'\\''";
        } else {
            result += c;
        }
    }
    return result + "'";
}

void runOrThrow(const std::filesystem::path& program, const std::vector<std::string>& arguments) {
    const ChildProcess::Result result = ChildProcess::run(program, arguments, std::nullopt, {});
    if (result.exitCode != 0) {
        throw std::runtime_error(
            program.string() +
            " failed: " + std::string(result.standardError.begin(), result.standardError.end()));
    }
}

WorkFolder::WorkFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tarvik-bench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    path_ = pattern;
}

WorkFolder::~WorkFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void generateTracks(const std::filesystem::path& ffmpeg, const std::vector<GeneratedTrack>& tracks,
                    std::size_t width) {
    BoundedGroup<bool> makers(width);
    for (const GeneratedTrack& track : tracks) {
        std::filesystem::create_directories(track.file.parent_path());
        std::vector<std::string> arguments = {"-nostdin",   "-hide_banner", "-loglevel", "error",
                                              "-y",         "-f",           "lavfi",     "-i",
                                              track.source, "-ac",          "2"};
        for (const auto& [key, value] : track.metadata) {
            arguments.push_back("-metadata");
            arguments.push_back(key + "=" + value);
        }
        arguments.push_back(track.file.string());
        makers.spawn([ffmpeg, arguments = std::move(arguments)](std::stop_token) {
            runOrThrow(ffmpeg, arguments);
            return true;
        });
    }
    while (makers.next()) {
    }
}

}  // namespace tarvik::bench
