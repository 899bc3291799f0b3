// Running outside programs from tests (python3, ffmpeg, ffprobe, metaflac) to
// make inputs and to read back what the program wrote.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tarvik::testing {

struct ShellResult {
    int exitCode = -1;
    std::string output;  // standard output only
};

// Quotes one argument for /bin/sh.
std::string shellQuote(std::string_view argument);

// Runs the words as one command (each word quoted), standard error passed through.
ShellResult runCommand(const std::vector<std::string>& words);

// "<program> is not installed" for the first of `programs` (a path, or a
// name looked up on the PATH) that this machine cannot run; empty when it can
// run them all. Tests skip on this reason only.
std::string missingProgram(const std::vector<std::string>& programs);

// Debian's python3, which has python3-mutagen; the first python3 on the PATH may not.
inline constexpr const char* systemPython = "/usr/bin/python3";

}  // namespace tarvik::testing
