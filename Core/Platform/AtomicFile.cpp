#include "Core/Platform/AtomicFile.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Uuid.hpp"

namespace tarvik {
namespace {

bool writeAll(int descriptor, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Makes the rename itself durable; failure here loses nothing, so it is ignored.
void syncFolder(const std::filesystem::path& folder) {
    int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return;
    ::fsync(descriptor);
    ::close(descriptor);
}

}  // namespace

void writeFileAtomically(const std::filesystem::path& target, std::string_view bytes) {
    std::filesystem::path folder = target.parent_path();
    if (folder.empty()) folder = ".";
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        throw ConversionError(
            fileSystemMessage("フォルダを作れません: ", folder.string(), error.value()));
    }

    const std::string name = target.filename().string();
    const std::filesystem::path temporary = folder / (".tarvik-" + makeUuid() + ".part");
    int descriptor = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        throw ConversionError(fileSystemMessage("書き込めません: ", name, errno));
    }

    int failure = 0;
    if (!writeAll(descriptor, bytes) || ::fsync(descriptor) != 0) failure = errno;
    if (::close(descriptor) != 0 && failure == 0) failure = errno;
    if (failure == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) failure = errno;
    if (failure != 0) {
        ::unlink(temporary.c_str());
        throw ConversionError(fileSystemMessage("書き込めません: ", name, failure));
    }
    syncFolder(folder);
}

}  // namespace tarvik
