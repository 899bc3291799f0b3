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
