#include "Core/Platform/FileStreams.hpp"

#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <vector>

#include "Core/Platform/InPlaceLeftover.hpp"
#include "Core/Platform/Sha256.hpp"
#include "Core/Platform/Uuid.hpp"
#include "Core/Platform/WholeFile.hpp"

namespace tarvik {
namespace {

// What `read` (a call shaped like getxattr(2): asked with no room, it
// gives the length it needs) gives; nothing when it fails.
template <typename Read>
std::optional<std::string> sizedRead(const Read& read) {
    for (;;) {
        const ssize_t length = read(nullptr, 0);
        if (length <= 0) return length < 0 ? std::nullopt : std::optional(std::string());
        std::string value(static_cast<std::size_t>(length), '\0');
        const ssize_t got = read(value.data(), value.size());
        if (got >= 0) return value.substr(0, static_cast<std::size_t>(got));
        if (errno != ERANGE) return std::nullopt;  // grew meanwhile: ask again
    }
}

// The extended attribute names of `path` (a link not followed), each ended
// by a NUL; empty where the file system has none.
std::string attributeNames(const std::filesystem::path& path) {
    return sizedRead([&](char* names, std::size_t size) {
               return ::llistxattr(path.c_str(), names, size);
           })
        .value_or(std::string());
}

std::optional<std::string> attribute(const std::filesystem::path& path, const char* name) {
    return sizedRead([&](char* value, std::size_t size) {
        return ::lgetxattr(path.c_str(), name, value, size);
    });
}

std::optional<std::string> attribute(int descriptor, const char* name) {
    return sizedRead(
        [&](char* value, std::size_t size) { return ::fgetxattr(descriptor, name, value, size); });
}

std::string changedMessage(const std::filesystem::path& file) {
    return "書き換えている間に別のプログラムがファイルを変えました: " + file.filename().string();
}

}  // namespace

FileSource::FileSource(const std::filesystem::path& path, const std::optional<FileIdentity>& seen)
    : path_(path) {
    const std::string name = path.filename().string();
    descriptor_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor_ < 0) throw ConversionError(fileSystemMessage("読み込めません: ", name, errno));
    struct stat facts {};
    if (::fstat(descriptor_, &facts) != 0) {
        const int error = errno;
        ::close(descriptor_);
        throw ConversionError(fileSystemMessage("読み込めません: ", name, error));
    }
    if (!S_ISREG(facts.st_mode)) {
        ::close(descriptor_);
        throw ConversionError(notAFileMessage(path));
    }
    identity_ = FileIdentity::of(facts);
    if (seen && identity_ != *seen) {
        ::close(descriptor_);
        throw FileChangedMeanwhile(changedMessage(path));
    }
}

FileSource::~FileSource() {
    ::close(descriptor_);
}

void FileSource::shrank() const {
    throw ConversionError("読み込めません: " + path_.filename().string() +
                          "（読んでいる間にファイルが短くなりました）");
}

Bytes FileSource::read(std::uint64_t offset, std::size_t length) {
    if (offset >= size()) return {};
    Bytes bytes(static_cast<std::size_t>(std::min<std::uint64_t>(length, size() - offset)));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::pread(descriptor_, bytes.data() + done, bytes.size() - done,
                                      static_cast<off_t>(offset + done));
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) {
            throw ConversionError(
                fileSystemMessage("読み込めません: ", path_.filename().string(), errno));
        }
        // Copying on would leave the result short while reporting success.
        if (count == 0) shrank();
        done += static_cast<std::size_t>(count);
    }
    return bytes;
}

AtomicFileSink::AtomicFileSink(const std::filesystem::path& destination,
                               BeforeReplacing beforeReplacing)
    : destination_(destination), beforeReplacing_(std::move(beforeReplacing)) {
    std::filesystem::path folder = destination.parent_path();
    if (folder.empty()) folder = ".";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        throw ConversionError(
            fileSystemMessage("フォルダを作れません: ", folder.string(), error.value()));
    }
    struct stat facts {};
    if (::lstat(destination.c_str(), &facts) == 0) destinationAtStart_ = FileIdentity::of(facts);
    temporary_ = folder / (".tarvik-" + makeUuid() + ".part");
    descriptor_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor_ < 0) fail(errno);
}

AtomicFileSink::~AtomicFileSink() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
        ::unlink(temporary_.c_str());
    }
}

void AtomicFileSink::fail(int errorNumber) const {
    throw ConversionError(
        fileSystemMessage("書き込めません: ", destination_.filename().string(), errorNumber));
}

void AtomicFileSink::changedMeanwhile() const {
    throw FileChangedMeanwhile(changedMessage(destination_));
}

void AtomicFileSink::writeAt(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t written =
            ::pwrite(descriptor_, bytes.data(), bytes.size(), static_cast<off_t>(position_));
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) fail(errno);
        bytes = bytes.subspan(static_cast<std::size_t>(written));
        position_ += static_cast<std::uint64_t>(written);
    }
    end_ = std::max(end_, position_);
}

void AtomicFileSink::append(std::span<const std::uint8_t> bytes) {
    writeAt(bytes);
}

void AtomicFileSink::copy(ByteSource& source, std::uint64_t offset, std::uint64_t length) {
    auto* file = dynamic_cast<FileSource*>(&source);
    if (file == nullptr) {
        ByteSink::copy(source, offset, length);
        return;
    }
    const FileIdentity& read = file->identity();
    if (!replaces_ && (file->path() == destination_ ||
                       (destinationAtStart_ && destinationAtStart_->device == read.device &&
                        destinationAtStart_->inode == read.inode))) {
        replaces_ = read;
    }
    const std::uint64_t end = std::min(offset + length, file->size());
    while (offset < end) {
        // Holes are skipped: the temporary file reads zeros there as well.
        off_t data = ::lseek(file->descriptor(), static_cast<off_t>(offset), SEEK_DATA);
        if (data < 0 && errno == ENXIO) {
            // No data up to the end: a hole there, or a file cut shorter
            // since it was opened, whose missing end must not read as zeros.
            struct stat now {};
            if (::fstat(file->descriptor(), &now) == 0 &&
                static_cast<std::uint64_t>(now.st_size) < end) {
                file->shrank();
            }
            data = static_cast<off_t>(end);
        } else if (data < 0) {
            data = static_cast<off_t>(offset);
        }
        const std::uint64_t dataStart =
            std::min<std::uint64_t>(static_cast<std::uint64_t>(data), end);
        position_ += dataStart - offset;
        offset = dataStart;
        off_t hole = offset < end
                         ? ::lseek(file->descriptor(), static_cast<off_t>(offset), SEEK_HOLE)
                         : static_cast<off_t>(end);
        const std::uint64_t dataEnd =
            hole < 0 ? end : std::min<std::uint64_t>(static_cast<std::uint64_t>(hole), end);
        while (offset < dataEnd) {
            const Bytes chunk = file->read(offset, static_cast<std::size_t>(std::min<std::uint64_t>(
                                                       dataEnd - offset, copyChunkSize)));
            writeAt(chunk);
            offset += chunk.size();
        }
    }
    // A source that ends in a hole: the length comes from the size alone.
    if (position_ > end_) {
        if (::ftruncate(descriptor_, static_cast<off_t>(position_)) != 0) fail(errno);
        end_ = position_;
    }
}

// The replaced file's owner and group (as far as the system lets this
// process give them), extended attributes and mode go to the new content;
// an attribute that can't be given is an error number, so that nothing the
// file carried is lost without a word.
int AtomicFileSink::takeOver(const struct stat& replaced) {
    struct stat mine {};
    if (::fstat(descriptor_, &mine) != 0) return errno;
    if ((mine.st_uid != replaced.st_uid || mine.st_gid != replaced.st_gid) &&
        ::fchown(descriptor_, replaced.st_uid, replaced.st_gid) != 0) {
        // Not the owner's: at least a group the user belongs to.
        if (mine.st_gid != replaced.st_gid)
            ::fchown(descriptor_, static_cast<uid_t>(-1), replaced.st_gid);
    }
    const std::string names = attributeNames(destination_);
    for (std::size_t start = 0; start < names.size();) {
        const std::size_t end = names.find('\0', start);
        const std::string name = names.substr(start, end - start);
        start = end == std::string::npos ? names.size() : end + 1;
        if (name.empty()) continue;
        const std::optional<std::string> value = attribute(destination_, name.c_str());
        if (!value || attribute(descriptor_, name.c_str()) == value) continue;
        if (::fsetxattr(descriptor_, name.c_str(), value->data(), value->size(), 0) != 0) {
            return errno;
        }
    }
    // Last: a change of owner clears the set-user-ID and set-group-ID bits.
    // File systems without modes (FAT, exFAT) refuse it, and lose nothing.
    ::fchmod(descriptor_, replaced.st_mode & 07777);
    return 0;
}

void AtomicFileSink::commit() {
    int failure = 0;
    struct stat replaced {};
    if (::lstat(destination_.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode)) {
        failure = takeOver(replaced);
    }
    if (failure == 0 && ::fsync(descriptor_) != 0) failure = errno;
    struct stat written {};
    if (failure == 0 && ::fstat(descriptor_, &written) != 0) failure = errno;
    if (::close(descriptor_) != 0 && failure == 0) failure = errno;
    descriptor_ = -1;
    if (failure != 0) {
        ::unlink(temporary_.c_str());
        fail(failure);
    }
    if (replaces_) return replaceInPlace(FileIdentity::of(written));
    if (::rename(temporary_.c_str(), destination_.c_str()) != 0) {
        failure = errno;
        ::unlink(temporary_.c_str());
        fail(failure);
    }
    std::filesystem::path folder = destination_.parent_path();
    syncFolder(folder.empty() ? "." : folder);
}

// A program that saved the file since it was read (written in place, or a
// copy renamed over it) keeps its save, also one that lands at the last
// moment: the new content and the file change names in one step, and what
// came out must be the file that was read.
void AtomicFileSink::replaceInPlace(const FileIdentity& written) {
    std::filesystem::path folder = destination_.parent_path();
    if (folder.empty()) folder = ".";
    const auto isRead = [&](const std::filesystem::path& path) {
        return FileIdentity::at(path) == replaces_;
    };
    // Whatever went wrong in an editor, a song is never replaced by nothing.
    if (written.size == 0) {
        ::unlink(temporary_.c_str());
        throw EmptyEdit("書き換えた結果が空のため、書き換えませんでした: " +
                        destination_.filename().string());
    }
    if (!isRead(destination_)) {
        ::unlink(temporary_.c_str());
        changedMeanwhile();
    }
    // By its bytes, which a volume mounted again still tells apart from
    // any other file (a kill may leave it under the name below).
    NewContent content{written.size, written.modified, {}};
    try {
        FileSource finished(temporary_);
        content.sha256 = sha256Hex(finished);
    } catch (...) {
        ::unlink(temporary_.c_str());
        throw;
    }
    // From here on the name says what the file is, for a commit killed midway.
    const std::filesystem::path swap = folder / InPlaceLeftover::name(written, *replaces_, content);
    if (::rename(temporary_.c_str(), swap.c_str()) != 0) {
        const int failure = errno;
        ::unlink(temporary_.c_str());
        fail(failure);
    }
    if (beforeReplacing_) {
        // Whoever records the content finds it under that name after a
        // power cut too.
        syncFolder(folder);
        try {
            beforeReplacing_(content);
        } catch (...) {
            ::unlink(swap.c_str());
            throw;
        }
    }
    if (!exchangeNames(swap, destination_)) {
        int failure = errno;
        // FAT, exFAT and others that can't exchange: the check right before
        // the rename is the best they allow.
        if (failure == EINVAL || failure == ENOSYS || failure == EOPNOTSUPP) {
            if (!isRead(destination_)) {
                ::unlink(swap.c_str());
                changedMeanwhile();
            }
            failure = ::rename(swap.c_str(), destination_.c_str()) == 0 ? 0 : errno;
        }
        if (failure != 0) {
            ::unlink(swap.c_str());
            fail(failure);
        }
        syncFolder(folder);
        return;
    }
    // The file that was read is removed only once it is known to be that.
    if (isRead(swap)) {
        ::unlink(swap.c_str());
        syncFolder(folder);
        return;
    }
    // Only the new content goes: whatever else came out is a save that
    // InPlaceLeftover puts back.
    if (exchangeNames(swap, destination_) && FileIdentity::at(swap) == written) {
        ::unlink(swap.c_str());
    }
    syncFolder(folder);
    changedMeanwhile();
}

bool exchangeNames(const std::filesystem::path& a, const std::filesystem::path& b) {
    return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

void syncFolder(const std::filesystem::path& folder) {
    // Failure here loses nothing: the names are given, only not yet flushed.
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return;
    ::fsync(descriptor);
    ::close(descriptor);
}

}  // namespace tarvik
