// One apply or undo at a time per library: a run holds an flock on
// "tidy.lock" in its journal folder from before it looks at the journals
// until it has reported, and the system lets go of it however the run ends,
// a kill included. A second run finds it taken and refuses at once, waiting
// for nothing. Owned by the run on its thread.
#pragma once

#include <filesystem>
#include <string_view>

namespace tarvik {

inline constexpr std::string_view anotherRunMessage =
    "別の整理が進んでいます。終わってからもう一度お試しください。";

class TidyLock {
public:
    // Throws ConversionError(anotherRunMessage) when another run holds the
    // lock, JournalError when the lock file can't be made in a folder that
    // takes files. A folder that takes none (read-only) holds no live run's
    // journal either: there the run goes on without the lock.
    explicit TidyLock(const std::filesystem::path& journalDir);
    ~TidyLock();
    TidyLock(const TidyLock&) = delete;
    TidyLock& operator=(const TidyLock&) = delete;

private:
    int descriptor_ = -1;
};

}  // namespace tarvik
