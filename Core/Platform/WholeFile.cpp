#include "Core/Platform/WholeFile.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "Core/Platform/Errors.hpp"

namespace tarvik {
namespace {

[[noreturn]] void fail(const std::filesystem::path& path, int errorNumber) {
    throw ConversionError(
        fileSystemMessage("読み込めません: ", path.filename().string(), errorNumber));
}

}  // namespace

std::string readSmallFile(const std::filesystem::path& path, std::size_t limit) {
    const std::string name = path.filename().string();
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) throw ConversionError(fileSystemMessage("読めません: ", name, errno));
    std::string bytes;
    std::string problem;
    int failure = 0;
    struct stat info {};
    if (::fstat(descriptor, &info) != 0) {
        failure = errno;
    } else if (!S_ISREG(info.st_mode)) {
        problem = "ファイルではありません";
    } else if (static_cast<std::uint64_t>(info.st_size) > limit) {
        problem = "大きすぎます";
    } else {
        char buffer[16384];
        for (;;) {
            const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
            if (count < 0 && errno == EINTR) continue;
            if (count < 0) failure = errno;
            if (count <= 0) break;
            bytes.append(buffer, static_cast<std::size_t>(count));
            // The file may have grown since fstat.
            if (bytes.size() > limit) {
                problem = "大きすぎます";
                break;
            }
        }
    }
    ::close(descriptor);
    if (failure != 0) throw ConversionError(fileSystemMessage("読めません: ", name, failure));
    if (!problem.empty()) throw ConversionError("読めません: " + name + "（" + problem + "）");
    return bytes;
}

std::string notAFileMessage(const std::filesystem::path& path) {
    return "読み込めません: " + path.filename().string() + "（ファイルではありません）";
}

bool isRegularFile(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

Bytes readWholeFile(const std::filesystem::path& path) {
    int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) fail(path, errno);
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(descriptor);
        throw ConversionError(notAFileMessage(path));
    }
    Bytes bytes;
    if (info.st_size > 0) bytes.reserve(static_cast<std::size_t>(info.st_size));
    // The size is only a hint: read to the end, whatever it says.
    std::uint8_t buffer[1 << 16];
    for (;;) {
        ssize_t got = ::read(descriptor, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            int failure = errno;
            ::close(descriptor);
            fail(path, failure);
        }
        if (got == 0) break;
        bytes.insert(bytes.end(), buffer, buffer + got);
    }
    ::close(descriptor);
    return bytes;
}

}  // namespace tarvik
