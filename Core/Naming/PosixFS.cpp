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

// Whether a stop asked for has had its grace, counted from when it was first
// seen: the file under way may finish within it, and no later.
class Grace {
public:
    explicit Grace(const std::stop_token& stop) : stop_(stop) {}

    bool over() {
        if (!stop_.stop_requested()) return false;
        const Clock::time_point now = Clock::now();
        if (!seen_) {
            seen_ = true;
            stoppedAt_ = now;
        }
        return now - stoppedAt_ > stopGrace;
    }

private:
    using Clock = std::chrono::steady_clock;
    const std::stop_token& stop_;
    bool seen_ = false;  // the stop was seen, at `stoppedAt_`
    Clock::time_point stoppedAt_{};
};

// Whether `path` still names the file open as `descriptor`.
bool names(const std::filesystem::path& path, int descriptor) {
    struct stat named {};
    struct stat opened {};
    return ::lstat(path.c_str(), &named) == 0 && ::fstat(descriptor, &opened) == 0 &&
           named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

// A copy's hidden temporary file, under its lock from before a sweep may take
// it for a leftover until it has the target's name or is gone: a sweep
// removes only a file whose lock it holds (removeLeftover). Where locks are
// not to be had the copy goes on without. Dropped without its rename, it is
// removed.
class Temporary {
public:
    explicit Temporary(const std::filesystem::path& folder) {
        for (int attempt = 0; attempt < creationAttempts; ++attempt) {
            path_ = folder / (".tarvik-" + makeUuid() + ".part");
            descriptor_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (descriptor_ < 0) {
                failure_ = errno;
                return;
            }
            if (::flock(descriptor_, LOCK_EX | LOCK_NB) != 0) {
                if (errno != EWOULDBLOCK) return;
                // A sweep is looking at it just now: whatever it finds, the
                // name is no longer to be trusted.
                failure_ = EWOULDBLOCK;
                ::unlink(path_.c_str());
            } else if (names(path_, descriptor_)) {
                return;
            } else {
                // A sweep took the lock between the creation and ours, and
                // removed the name while it held it.
                failure_ = ENOENT;
            }
            ::close(descriptor_);
            descriptor_ = -1;
        }
    }

    ~Temporary() {
        const int held = descriptor_ >= 0 ? descriptor_ : keeper_;
        bool gone = placed_ || held < 0;
        if (!gone) {
            // The name goes first and the data not yet on the card with it,
            // before a close that would write that out (FAT mounted with
            // "flush", FUSE): a quit's deadline may come first, and must not
            // find a half file.
            gone = ::unlink(path_.c_str()) == 0;
            [[maybe_unused]] const int dropped = ::ftruncate(held, 0);
        }
        if (descriptor_ >= 0) ::close(descriptor_);
        if (keeper_ >= 0) ::close(keeper_);
        // FUSE hides an open file it is asked to remove under another name,
        // for which a full folder has no room: closed, it goes at once.
        if (!gone) ::unlink(path_.c_str());
    }

    Temporary(const Temporary&) = delete;
    Temporary& operator=(const Temporary&) = delete;

    // 0 once the file is open and held, else the error number.
    int failure() const { return descriptor_ >= 0 ? 0 : failure_; }
    int descriptor() const { return descriptor_; }

    // Puts the data on the disk and closes the file, its lock kept; 0 or the
    // error number (ECANCELED: stopped, and not on the disk within the
    // grace). The data goes out a chunk at a time, so that a stop is heard
    // while a slow card takes seconds over it. A full volume may show up only
    // at fsync or close (delayed allocation, network and FUSE file systems),
    // so both are checked.
    int flush(Grace& grace) {
        struct stat status {};
        if (::fstat(descriptor_, &status) != 0) return errno;
        const auto chunk = static_cast<off_t>(copyChunk);
        for (off_t at = 0; at < status.st_size; at += chunk) {
            if (grace.over()) return ECANCELED;
            // Each chunk starts out before the one ahead of it is waited for,
            // so the card always has the next to write. Where the file system
            // writes past the page cache (FUSE), this does nothing and the
            // fsync below does the work.
            ::sync_file_range(descriptor_, at, chunk, SYNC_FILE_RANGE_WRITE);
            if (at > 0) {
                ::sync_file_range(descriptor_, at - chunk, chunk,
                                  SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                      SYNC_FILE_RANGE_WAIT_AFTER);
            }
        }
        if (::fsync(descriptor_) != 0) return errno;
        // A second descriptor keeps the lock until the rename.
        keeper_ = ::fcntl(descriptor_, F_DUPFD_CLOEXEC, 0);
        if (keeper_ < 0) return errno;
        const int closed = ::close(descriptor_);
        descriptor_ = -1;
        return closed == 0 ? 0 : errno;
    }

    // 0 or the error number.
    int renameTo(const std::filesystem::path& target) {
        if (::rename(path_.c_str(), target.c_str()) != 0) return errno;
        placed_ = true;
        return 0;
    }

private:
    // A sweep beside may come between a creation and its lock only rarely;
    // a few new names are plenty.
    static constexpr int creationAttempts = 4;

    std::filesystem::path path_;
    int descriptor_ = -1;  // written through
    int keeper_ = -1;      // holds the lock once the other is closed
    int failure_ = 0;
    bool placed_ = false;
};

// Copies the bytes of `input` into `output`; returns 0 or the error number
// of the first call that failed (ECANCELED: stopped, and not whole within
// the grace).
int copyData(int input, int output, Grace& grace) {
    std::vector<std::uint8_t> buffer(copyChunk);
    for (;;) {
        if (grace.over()) return ECANCELED;
        const ssize_t got = ::read(input, buffer.data(), buffer.size());
        if (got < 0) {
            if (errno != EINTR) return errno;
            continue;
        }
        if (got == 0) return 0;
        if (!writeAll(output, buffer.data(), static_cast<std::size_t>(got))) return errno;
    }
}

[[noreturn]] void failWriting(const std::filesystem::path& target, int failure,
                              const std::stop_token& stop) {
    if (failure == ECANCELED && stop.stop_requested()) throw Cancelled();
    if (isNoRoom(failure)) throw NoSpace();
    throw ConversionError(
        fileSystemMessage("書き込めません: ", lastComponent(target.native()), failure));
}

// Copies `source` to `target` in the existing `folder` through a hidden
// temporary file there, renamed into place once the data is on the disk.
void copyInto(const std::filesystem::path& source, const std::filesystem::path& folder,
              const std::filesystem::path& target, const std::stop_token& stop = {}) {
    const int input = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (input < 0) failWriting(target, errno, stop);
    Grace grace(stop);
    Temporary temporary(folder);
    int failure = temporary.failure();
    if (failure == 0) failure = copyData(input, temporary.descriptor(), grace);
    ::close(input);
    if (failure == 0) failure = temporary.flush(grace);
    if (failure != 0) failWriting(target, failure, stop);
    // Renamed while still held: a sweep never finds it free under its old
    // name. A file system may need room for the new name too (FAT, exFAT).
    if (const int renaming = temporary.renameTo(target); renaming != 0) {
        if (isNoRoom(renaming)) throw NoSpace();
        throw ConversionError(
            fileSystemMessage("名前を付けられません: ", lastComponent(target.native()), renaming));
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

// The temporary file open with its lock taken, when nobody writes it; else -1.
int takeIfLeftover(const std::filesystem::path& file) {
    if (!isTemporaryName(lastComponent(file.native()))) return -1;
    // Not following a link, and never waiting on a FIFO put there.
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return -1;
    struct stat status {};
    const bool regular = ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
    // A copy under way holds the lock; taking it here says nobody writes.
    if (regular && ::flock(descriptor, LOCK_EX | LOCK_NB) == 0) return descriptor;
    ::close(descriptor);
    return -1;
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
    const int descriptor = takeIfLeftover(file);
    if (descriptor < 0) return false;
    ::close(descriptor);
    return true;
}

bool removeLeftover(const std::filesystem::path& file) {
    const int descriptor = takeIfLeftover(file);
    if (descriptor < 0) return false;
    // Under the lock: a copy that created the file a moment ago and takes
    // the lock only after this finds its name gone, and writes under another.
    const bool removed = names(file, descriptor) && ::unlink(file.c_str()) == 0;
    ::close(descriptor);
    return removed;
}

}  // namespace tarvik::PosixFS
