#include "Core/Tidy/TidyLock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "Core/Platform/Errors.hpp"
#include "Core/Tidy/TidyJournal.hpp"

namespace tarvik {

TidyLock::TidyLock(const std::filesystem::path& journalDir) {
    const std::filesystem::path file = journalDir / "tidy.lock";
    // Never removed: a run that removed it could take a lock on a file the
    // next run no longer sees.
    descriptor_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (descriptor_ < 0 && (errno == EROFS || errno == EACCES || errno == EPERM)) {
        descriptor_ = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (descriptor_ < 0) return;
    }
    if (descriptor_ < 0) {
        throw JournalError(fileSystemMessage("記録ファイルを作れません: ", "tidy.lock", errno));
    }
    if (::flock(descriptor_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(descriptor_);
        descriptor_ = -1;
        throw ConversionError(std::string(anotherRunMessage));
    }
}

TidyLock::~TidyLock() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

}  // namespace tarvik
