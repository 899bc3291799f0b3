#include "Core/Naming/PosixFS.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <vector>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/Uuid.hpp"

namespace tarvik::PosixFS {
namespace {

constexpr std::size_t copyChunk = 1024 * 1024;

std::string lastComponent(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool writeAll(int descriptor, const std::uint8_t* data, std::size_t length) {
    while (length > 0) {
        ssize_t written = ::write(descriptor, data, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

// Copies the bytes of `source` into the new file `temporary`; returns 0 or
// the error number of the first call that failed. A full volume may show up
// only at fsync or close (delayed allocation, network and FUSE file systems),
// so both are checked.
int copyData(const std::filesystem::path& source, const std::filesystem::path& temporary) {
    int input = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (input < 0) return errno;
    int output = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (output < 0) {
        int failure = errno;
        ::close(input);
        return failure;
    }
    int failure = 0;
    std::vector<std::uint8_t> buffer(copyChunk);
    while (failure == 0) {
        ssize_t got = ::read(input, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno != EINTR) failure = errno;
            continue;
        }
        if (got == 0) break;
        if (!writeAll(output, buffer.data(), static_cast<std::size_t>(got))) failure = errno;
    }
    if (failure == 0 && ::fsync(output) != 0) failure = errno;
    if (::close(output) != 0 && failure == 0) failure = errno;
    ::close(input);
    return failure;
}

}  // namespace

const char* NoSpace::what() const noexcept {
    return "空きがありません";
}

std::filesystem::path nfc(const std::filesystem::path& path) {
    const std::string& bytes = path.native();
    if (!text::isValidUTF8(bytes)) return path;
    return std::filesystem::path(text::nfc(bytes));
}

bool exists(const std::filesystem::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

bool isDirectory(const std::filesystem::path& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::optional<std::uint64_t> size(const std::filesystem::path& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(status.st_size);
}

void remove(const std::filesystem::path& path) {
    ::unlink(path.c_str());
}

void makeDirs(const std::filesystem::path& path) {
    const std::string normalized = nfc(path).native();
    // A relative path counts from the working folder, as every other call
    // here takes it.
    std::string prefix = normalized.starts_with('/') ? "/" : "";
    std::size_t start = 0;
    while (start < normalized.size()) {
        std::size_t end = normalized.find('/', start);
        if (end == std::string::npos) end = normalized.size();
        if (end > start) {
            if (!prefix.empty() && prefix.back() != '/') prefix += '/';
            prefix.append(normalized, start, end - start);
            // EEXIST counts as made: whatever stands there fails at the next level.
            if (!isDirectory(prefix) && ::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
                throw ConversionError(fileSystemMessage("フォルダを作れません: ", prefix, errno));
            }
        }
        start = end + 1;
    }
}

void rename(const std::filesystem::path& source, const std::filesystem::path& target) {
    const std::filesystem::path normalized = nfc(target);
    if (::rename(source.c_str(), normalized.c_str()) != 0) {
        throw ConversionError(
            fileSystemMessage("名前を付けられません: ", lastComponent(normalized.native()), errno));
    }
}

void copy(const std::filesystem::path& source, const std::filesystem::path& target) {
    const std::filesystem::path normalized = nfc(target);
    std::filesystem::path folder = normalized.parent_path();
    if (folder.empty()) folder = ".";
    makeDirs(folder);

    const std::filesystem::path temporary = folder / (".tarvik-" + makeUuid() + ".part");
    if (int failure = copyData(source, temporary); failure != 0) {
        PosixFS::remove(temporary);
        if (failure == ENOSPC) throw NoSpace();
        throw ConversionError(
            fileSystemMessage("書き込めません: ", lastComponent(normalized.native()), failure));
    }
    try {
        PosixFS::rename(temporary, normalized);
    } catch (...) {
        PosixFS::remove(temporary);
        throw;
    }
}

}  // namespace tarvik::PosixFS
