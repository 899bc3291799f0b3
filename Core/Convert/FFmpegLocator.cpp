#include "Core/Convert/FFmpegLocator.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace tarvik::FFmpegLocator {

Places Places::current() {
    Places places;
    if (const char* value = std::getenv("TARVIK_FFMPEG")) places.environmentValue = value;
    std::error_code error;
    std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) places.executable = executable;
#ifdef TARVIK_DEVELOPMENT_FFMPEG
    places.developmentBuild = std::filesystem::path(TARVIK_DEVELOPMENT_FFMPEG);
#endif
    return places;
}

namespace {

std::vector<std::filesystem::path> candidates(const Places& places) {
    std::vector<std::filesystem::path> result;
    if (places.environmentValue) result.emplace_back(*places.environmentValue);
    if (places.executable) {
        std::error_code error;
        std::filesystem::path resolved = std::filesystem::canonical(*places.executable, error);
        if (!error) {
            std::filesystem::path folder = resolved.parent_path();
            result.push_back((folder / ".." / "libexec" / "tarvik" / "ffmpeg").lexically_normal());
            result.push_back(folder / "ffmpeg");
        }
    }
    if (places.developmentBuild) result.push_back(*places.developmentBuild);
    result.insert(result.end(), places.fixed.begin(), places.fixed.end());
    return result;
}

bool isUsable(const std::filesystem::path& path) {
    struct stat status {};
    if (path.empty() || ::stat(path.c_str(), &status) != 0) return false;
    // Execute permission alone would let a folder through.
    return S_ISREG(status.st_mode) && ::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) == 0;
}

}  // namespace

std::optional<std::filesystem::path> locate(const Places& places) {
    for (const std::filesystem::path& candidate : candidates(places)) {
        if (isUsable(candidate)) return candidate;
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> locate() {
    return locate(Places::current());
}

}  // namespace tarvik::FFmpegLocator
