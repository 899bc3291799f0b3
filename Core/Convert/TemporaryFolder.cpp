#include "Core/Convert/TemporaryFolder.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Uuid.hpp"

namespace tarvik {

TemporaryFolder::TemporaryFolder(const std::filesystem::path& root, std::string_view prefix)
    : path_(root / (std::string(prefix) + makeUuid())) {
    // mkdir fails when the name exists: the folder is new and ours alone.
    if (::mkdir(path_.c_str(), 0700) != 0) {
        throw ConversionError(fileSystemMessage("フォルダを作れません: ", path_.string(), errno));
    }
    lock_ = ::open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int failure = lock_ < 0 ? errno : ::flock(lock_, LOCK_EX | LOCK_NB) != 0 ? errno : 0;
    if (failure != 0) {
        if (lock_ >= 0) ::close(lock_);
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
        throw ConversionError(
            fileSystemMessage("作業フォルダを確保できません: ", path_.string(), failure));
    }
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
    ::close(lock_);
}

}  // namespace tarvik
