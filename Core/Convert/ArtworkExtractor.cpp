#include "Core/Convert/ArtworkExtractor.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "Core/Platform/WholeFile.hpp"

namespace tarvik {
namespace {

// The file's bytes when it is a regular file of at most `limit` bytes. The
// type is checked before reading: a FIFO or a device named "cover.jpg" would
// otherwise block the export or feed it without end. O_NONBLOCK keeps the
// open itself from waiting on a FIFO that appears between the two checks.
std::optional<Bytes> readCoverFile(const std::filesystem::path& path, std::int64_t limit) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return std::nullopt;
    std::optional<Bytes> result;
    if (::fstat(descriptor, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= limit) {
        Bytes bytes;
        bytes.reserve(static_cast<std::size_t>(info.st_size));
        std::vector<std::uint8_t> buffer(1 << 16);
        bool failed = false;
        for (;;) {
            ssize_t got = ::read(descriptor, buffer.data(), buffer.size());
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) failed = true;
            if (got <= 0) break;
            bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + got);
            // The file may have grown since fstat.
            if (static_cast<std::int64_t>(bytes.size()) > limit) failed = true;
            if (failed) break;
        }
        if (!failed) result = std::move(bytes);
    }
    ::close(descriptor);
    return result;
}

}  // namespace

std::optional<Bytes> ArtworkExtractor::extract(const std::filesystem::path& source,
                                               std::stop_token stop) const noexcept {
    try {
        // ffmpeg would wait in open() on a pipe named like a song.
        if (!isRegularFile(source)) return std::nullopt;
        // An absolute path keeps a name such as "a:b.flac" from reading as a protocol.
        FFmpegRunner::Output output =
            runner->runRaw({"-loglevel", "error", "-i", std::filesystem::absolute(source).string(),
                            "-an", "-c:v", "copy", "-frames:v", "1", "-f", "image2", "pipe:1"},
                           std::nullopt, stop);
        if (stop.stop_requested()) return std::nullopt;
        if (output.exitCode == 0 && !output.stdout.empty()) return std::move(output.stdout);
    } catch (...) {
        // No embedded picture to be had; the folder may still hold one.
    }
    if (stop.stop_requested()) return std::nullopt;
    try {
        const std::filesystem::path folder = source.parent_path();
        for (std::string_view name : coverFileNames) {
            if (std::optional<Bytes> picture = readCoverFile(folder / name, coverFileLimit)) {
                return picture;
            }
        }
    } catch (...) {
        // Out of memory for a picture counts as no picture.
    }
    return std::nullopt;
}

std::optional<Bytes> ArtworkExtractor::scale(const Bytes& picture, std::int64_t maxPx,
                                             std::stop_token stop) const noexcept {
    try {
        // The quotes are for ffmpeg's filter parser (the comma inside min()),
        // not for a shell; none is involved.
        const std::string filter = "scale='min(iw," + std::to_string(maxPx) + ")':-2";
        FFmpegRunner::Output output =
            runner->runRaw({"-loglevel", "error", "-i", "pipe:0", "-vf", filter, "-frames:v", "1",
                            "-c:v", "mjpeg", "-q:v", "4", "-f", "image2", "pipe:1"},
                           picture, stop);
        if (stop.stop_requested()) return std::nullopt;
        if (output.exitCode == 0 && !output.stdout.empty()) return std::move(output.stdout);
    } catch (...) {
        // Not startable, cancelled before the start: no picture.
    }
    return std::nullopt;
}

}  // namespace tarvik
