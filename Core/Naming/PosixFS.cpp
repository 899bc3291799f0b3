#include "Core/Naming/PosixFS.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
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

// A full volume, or the user's quota used up: either way the card is full.
bool isNoRoom(int failure) {
    return failure == ENOSPC || failure == EDQUOT;
}

// Copies the bytes of `source` into the new file `temporary`; returns 0 or
// the error number of the first call that failed (ECANCELED: stopped, and
// not whole within the grace). A full volume may show up only at fsync or
// close (delayed allocation, network and FUSE file systems), so both are
// checked.
int copyData(const std::filesystem::path& source, const std::filesystem::path& temporary,
             const std::stop_token& stop) {
    int input = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (input < 0) return errno;
    int output = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (output < 0) {
        int failure = errno;
        ::close(input);
        return failure;
    }
    // Held until the file is closed: no cleaning takes it for a leftover
    // meanwhile. Where locks are not to be had the copy goes on without.
    ::flock(output, LOCK_EX | LOCK_NB);
    using Clock = std::chrono::steady_clock;
    std::optional<Clock::time_point> stoppedAt;
    int failure = 0;
    std::vector<std::uint8_t> buffer(copyChunk);
    while (failure == 0) {
        if (stop.stop_requested()) {
            if (!stoppedAt) stoppedAt = Clock::now();
            if (Clock::now() - *stoppedAt > stopGrace) {
                failure = ECANCELED;
                break;
            }
        }
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

// Copies `source` to `target` in the existing `folder` through a hidden
// temporary file there, renamed into place once the data is on the disk.
void copyInto(const std::filesystem::path& source, const std::filesystem::path& folder,
              const std::filesystem::path& target, const std::stop_token& stop = {}) {
    const std::filesystem::path temporary = folder / (".tarvik-" + makeUuid() + ".part");
    if (int failure = copyData(source, temporary, stop); failure != 0) {
        PosixFS::remove(temporary);
        if (failure == ECANCELED && stop.stop_requested()) throw Cancelled();
        if (isNoRoom(failure)) throw NoSpace();
        throw ConversionError(
            fileSystemMessage("書き込めません: ", lastComponent(target.native()), failure));
    }
    // A file system may need room for the new name too (FAT, exFAT).
    if (::rename(temporary.c_str(), target.c_str()) != 0) {
        const int failure = errno;
        PosixFS::remove(temporary);
        if (isNoRoom(failure)) throw NoSpace();
        throw ConversionError(
            fileSystemMessage("名前を付けられません: ", lastComponent(target.native()), failure));
    }
}

// The levels of a relative path, empty ones ("a//b") dropped; nothing when
// the path is absolute or a level is "." or "..".
std::optional<std::vector<std::string>> levelsOf(std::string_view relative) {
    if (relative.starts_with('/')) return std::nullopt;
    std::vector<std::string> levels;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find('/', start);
        if (end == std::string_view::npos) end = relative.size();
        const std::string_view level = relative.substr(start, end - start);
        if (level == "." || level == "..") return std::nullopt;
        if (!level.empty()) levels.emplace_back(level);
        start = end + 1;
    }
    return levels;
}

// The name under which `name` stands in `folder`, with its lstat: its own
// when there is one, else the first listed name with the same NFC form.
std::optional<std::string> findIn(const std::filesystem::path& folder, const std::string& name,
                                  struct stat& status) {
    if (::lstat((folder / name).c_str(), &status) == 0) return name;
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) return std::nullopt;
    const std::string wanted = text::nfcName(name);
    std::optional<std::string> found;
    while (const dirent* item = ::readdir(directory)) {
        const std::string_view listed = item->d_name;
        if (listed != "." && listed != ".." && text::nfcName(listed) == wanted) {
            found = std::string(listed);
            break;
        }
    }
    ::closedir(directory);
    if (found && ::lstat((folder / *found).c_str(), &status) != 0) return std::nullopt;
    return found;
}

// The part of `path` below the root's folder, without "/" at either end;
// nothing when the path does not lie below it.
std::optional<std::string_view> relativeBelow(const Root& root, const std::filesystem::path& path) {
    const std::string& full = path.native();
    const std::string& base = root.folder.native();
    if (full.size() <= base.size() || !full.starts_with(base) ||
        (!base.ends_with('/') && full[base.size()] != '/')) {
        return std::nullopt;
    }
    std::string_view relative = std::string_view(full).substr(base.size());
    while (relative.starts_with('/')) relative.remove_prefix(1);
    while (relative.ends_with('/')) relative.remove_suffix(1);
    return relative;
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
                if (isNoRoom(errno)) throw NoSpace();
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
    copyInto(source, folder, normalized);
}

std::optional<Root> rootAt(const std::filesystem::path& folder) {
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) return std::nullopt;
    return Root{folder, static_cast<std::uint64_t>(status.st_dev)};
}

bool isPresent(const Root& root) {
    const std::optional<Root> now = rootAt(root.folder);
    return now && now->device == root.device;
}

std::optional<Location> locate(const Root& root, std::string_view relative) {
    const std::optional<std::vector<std::string>> levels = levelsOf(relative);
    if (!levels) return std::nullopt;
    Location location{root.folder, 0, levels->size()};
    for (std::size_t index = 0; index < levels->size(); ++index) {
        const std::string& level = (*levels)[index];
        struct stat status {};
        if (location.found == index) {
            if (std::optional<std::string> name = findIn(location.path, level, status)) {
                const bool last = index + 1 == levels->size();
                if (!last && !S_ISDIR(status.st_mode)) return std::nullopt;
                location.path /= *name;
                ++location.found;
                continue;
            }
        }
        location.path /= text::nfcName(level);
    }
    return location;
}

std::filesystem::path makeDirs(const Root& root, std::string_view relative) {
    constexpr std::string_view prefix = "フォルダを作れません: ";
    if (!isPresent(root))
        throw ConversionError(fileSystemMessage(prefix, root.folder.native(), ENOENT));
    const std::optional<std::vector<std::string>> levels = levelsOf(relative);
    if (!levels) {
        throw ConversionError(fileSystemMessage(prefix, (root.folder / relative).native(), EINVAL));
    }
    std::filesystem::path folder = root.folder;
    for (const std::string& level : *levels) {
        struct stat status {};
        if (std::optional<std::string> name = findIn(folder, level, status)) {
            folder /= *name;
            if (S_ISDIR(status.st_mode)) continue;
            throw ConversionError(fileSystemMessage(prefix, folder.native(),
                                                    S_ISLNK(status.st_mode) ? ELOOP : ENOTDIR));
        }
        folder /= text::nfcName(level);
        if (::mkdir(folder.c_str(), 0755) != 0) {
            const int failure = errno;
            // Another copy into the same new album may just have made it.
            if (failure == EEXIST && isDirectory(folder)) continue;
            if (isNoRoom(failure)) throw NoSpace();
            throw ConversionError(fileSystemMessage(prefix, folder.native(), failure));
        }
    }
    return folder;
}

bool reaches(const Root& root, const std::filesystem::path& path) {
    const std::optional<std::string_view> relative = relativeBelow(root, path);
    if (!relative) return false;
    const std::optional<Location> location = locate(root, *relative);
    return location && location->exists() && location->path == path;
}

std::filesystem::path copy(const std::filesystem::path& source, const Root& root,
                           const std::filesystem::path& target, std::stop_token stop) {
    const std::optional<std::string_view> relative = relativeBelow(root, target);
    const std::optional<std::vector<std::string>> levels =
        relative ? levelsOf(*relative) : std::nullopt;
    if (!levels || levels->empty()) {
        throw ConversionError(
            fileSystemMessage("書き込めません: ", lastComponent(target.native()), EINVAL));
    }
    const std::size_t slash = relative->rfind('/');
    const std::filesystem::path folder =
        makeDirs(root, slash == std::string_view::npos ? "" : relative->substr(0, slash));
    struct stat status {};
    const std::filesystem::path file =
        folder / findIn(folder, levels->back(), status).value_or(text::nfcName(levels->back()));
    copyInto(source, folder, file, stop);
    return file;
}

bool isTemporaryName(std::string_view name) {
    constexpr std::string_view prefix = ".tarvik-";
    constexpr std::string_view suffix = ".part";
    constexpr std::size_t uuidLength = 36;
    if (name.size() != prefix.size() + uuidLength + suffix.size() || !name.starts_with(prefix) ||
        !name.ends_with(suffix)) {
        return false;
    }
    const std::string_view uuid = name.substr(prefix.size(), uuidLength);
    for (std::size_t i = 0; i < uuid.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? uuid[i] != '-' : !std::isxdigit(static_cast<unsigned char>(uuid[i]))) {
            return false;
        }
    }
    return true;
}

bool isLeftover(const std::filesystem::path& file) {
    if (!isTemporaryName(lastComponent(file.native()))) return false;
    // Not following a link, and never waiting on a FIFO put there.
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return false;
    struct stat status {};
    const bool regular = ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
    // A copy under way holds the lock; taking it here says nobody writes.
    const bool free = regular && ::flock(descriptor, LOCK_EX | LOCK_NB) == 0;
    ::close(descriptor);
    return free;
}

}  // namespace tarvik::PosixFS
