// Runs the ffmpeg program as a child process: "-nostdin" and "-hide_banner"
// go in front of the caller's arguments, optional bytes go to its standard
// input, and its standard output and error come back in full. The runner
// holds only the program's location, so one runner serves any number of runs
// at once from any threads. It never interprets what ffmpeg prints; callers do.
#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "Core/Platform/Bytes.hpp"

namespace tarvik {

// A run that ended with a non-zero exit code. Its text is the last whole
// lines ffmpeg wrote on standard error (at most 300 characters, never the
// loudness filter's summary), or the exit code when it said nothing else.
class FFmpegError : public std::exception {
public:
    FFmpegError(std::int32_t exitCode, std::string standardError);

    std::int32_t exitCode() const { return exitCode_; }
    const std::string& stderr() const { return stderr_; }
    const std::string& description() const { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

private:
    std::int32_t exitCode_;
    std::string stderr_;
    std::string description_;
};

class FFmpegRunner {
public:
    struct Output {
        // The exit status, or the number of the signal that ended the child.
        std::int32_t exitCode = 0;
        Bytes stdout;
        // Decoded from UTF-8; each ill-formed sequence became U+FFFD.
        std::string stderr;

        bool operator==(const Output&) const = default;
    };

    explicit FFmpegRunner(std::filesystem::path executable);
    virtual ~FFmpegRunner() = default;

    const std::filesystem::path& executable() const { return executable_; }

    // Runs ffmpeg once and returns its output whatever the exit code. `input`
    // absent gives the child the null device. Throws Cancelled when `stop` was
    // requested before the call (nothing is started) and std::system_error
    // when the program can't be started. A stop requested during the run ends
    // the child (SIGTERM, signal 9 three seconds later) and the call returns
    // the stopped child's output: the caller judges it by its own stop token.
    virtual Output runRaw(const std::vector<std::string>& arguments,
                          const std::optional<Bytes>& input, std::stop_token stop) const;

    // As runRaw, but a non-zero exit code throws FFmpegError.
    virtual Output run(const std::vector<std::string>& arguments, const std::optional<Bytes>& input,
                       std::stop_token stop) const;

private:
    std::filesystem::path executable_;
};

}  // namespace tarvik
