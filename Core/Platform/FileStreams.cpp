#include "Core/Platform/FileStreams.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Uuid.hpp"
#include "Core/Platform/WholeFile.hpp"

namespace tarvik {
namespace {

// Makes the rename itself durable; failure here loses nothing, so it is ignored.
void syncFolder(const std::filesystem::path& folder) {
    int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return;
    ::fsync(descriptor);
    ::close(descriptor);
}

}  // namespace

FileSource::FileSource(const std::filesystem::path& path) : path_(path) {
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
    size_ = static_cast<std::uint64_t>(facts.st_size);
}

FileSource::~FileSource() {
    ::close(descriptor_);
}

Bytes FileSource::read(std::uint64_t offset, std::size_t length) {
    if (offset >= size_) return {};
    Bytes bytes(static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset)));
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
        if (count == 0) {
            throw ConversionError("読み込めません: " + path_.filename().string() +
                                  "（読んでいる間にファイルが短くなりました）");
        }
        done += static_cast<std::size_t>(count);
    }
    return bytes;
}

AtomicFileSink::AtomicFileSink(const std::filesystem::path& destination)
    : destination_(destination) {
    std::filesystem::path folder = destination.parent_path();
    if (folder.empty()) folder = ".";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        throw ConversionError(
            fileSystemMessage("フォルダを作れません: ", folder.string(), error.value()));
    }
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
    const std::uint64_t end = std::min(offset + length, file->size());
    while (offset < end) {
        // Holes are skipped: the temporary file reads zeros there as well.
        off_t data = ::lseek(file->descriptor(), static_cast<off_t>(offset), SEEK_DATA);
        if (data < 0) data = errno == ENXIO ? static_cast<off_t>(end) : static_cast<off_t>(offset);
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
    if (position_ > end_) {
        if (::ftruncate(descriptor_, static_cast<off_t>(position_)) != 0) fail(errno);
        end_ = position_;
    }
}

void AtomicFileSink::commit() {
    int failure = 0;
    if (::fsync(descriptor_) != 0) failure = errno;
    if (::close(descriptor_) != 0 && failure == 0) failure = errno;
    descriptor_ = -1;
    if (failure == 0 && ::rename(temporary_.c_str(), destination_.c_str()) != 0) failure = errno;
    if (failure != 0) {
        ::unlink(temporary_.c_str());
        fail(failure);
    }
    std::filesystem::path folder = destination_.parent_path();
    syncFolder(folder.empty() ? "." : folder);
}

}  // namespace tarvik
