// Small shell scripts that stand in for a program (ffmpeg above all) in tests
// of code that starts child processes.
#pragma once

#include <filesystem>
#include <string_view>

namespace tarvik::testing {

// Writes "#!/bin/sh" and `body` to `path` with mode 0755 and returns the path.
std::filesystem::path writeScript(const std::filesystem::path& path, std::string_view body);

}  // namespace tarvik::testing
