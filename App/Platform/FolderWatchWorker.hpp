#pragma once
// The half of FolderWatch that touches the file system, on a thread of its
// own: a kernel watch on the folder, on every folder above it and on every
// folder above where its links lead (a rename anywhere up either path shows
// only in the folder that held the name), laid anew from the names as they
// now stand after every change, and a look at the folder then and every few
// seconds besides (a FUSE daemon that dies, or a share that stops answering,
// tells the kernel watch nothing). A file system that stops answering holds
// this thread, never its owner's. It reports from its own thread, `looking`
// before anything that may wait and `looked` after; the owner makes of that
// what it tells. Owned by one object, which destroys it to stop it: the
// destructor wakes the thread and waits for it, but once the program is
// ending no longer than its deadline (DetachedTask::endingBy): a thread held
// by a file system is then left to end with the process, which it may, since
// it owns all it touches. Without a thread to be had it reports nothing;
// without a kernel watch, only its timed looks.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "App/Platform/FolderPlaces.hpp"
#include "Core/Platform/DetachedTask.hpp"

namespace tarvik {

class FolderWatchWorker {
public:
    // What one look found of the folder. A folder that is there but cannot be
    // listed counts as gone: nothing can be read from it.
    struct Sight {
        enum class Kind { gone, there, notAnswering };
        Kind kind = Kind::gone;
        dev_t device = 0;  // which folder it is, where it is there
        ino_t inode = 0;
        // Where the folder and the folders it links to lie (FolderPlaces), as
        // the look found them; a gone folder's still names where it would lie.
        std::vector<FolderPlace> places{};
        // What the owner's listing found in the folder (its `List`), where it
        // is there: the music folder's artists.
        std::vector<std::string> names{};

        bool there() const { return kind == Kind::there; }
        bool operator==(const Sight&) const = default;
    };

    struct Report {
        enum class Kind { looking, looked };
        Kind kind = Kind::looking;
        std::filesystem::path folder;
        Sight sight;  // looked: what the look found
        bool entriesChanged =
            false;  // looked: the folder's own entries changed since the last look
        // The number of the latest watch() call this look began after.
        std::uint64_t request = 0;
    };

    struct Timing {
        // Long enough that a copy or a move of many entries is one change,
        // short enough that the window follows well within a second.
        std::chrono::milliseconds settle{100};
        // How often the folder is looked at without any change told.
        std::chrono::milliseconds recheck{2000};
    };

    // Lists what the owner wants of a folder that is there; on the worker.
    // Nothing where the folder could not be listed.
    using List =
        std::function<std::optional<std::vector<std::string>>(const std::filesystem::path&)>;

    // `report` runs on the worker's thread, and may still run once its owner
    // went, while the destructor waits for a look that does not end: it must
    // reach nothing that goes with the owner (GuiOutlet).
    FolderWatchWorker(std::function<void(Report)> report, Timing timing, List list = {});
    ~FolderWatchWorker();
    FolderWatchWorker(const FolderWatchWorker&) = delete;
    FolderWatchWorker& operator=(const FolderWatchWorker&) = delete;

    // Watches `folder` from now on, in place of the one watched so far (an
    // empty path: nothing), and looks at it; the reports of that look and of
    // every later one carry `request`. Any thread; never waits on a file system.
    void watch(std::filesystem::path folder, std::uint64_t request);

    // Stops the thread without waiting for it: one held by a file system
    // ends by itself once that answers. The destructor then waits for nothing.
    void leave();

private:
    // Everything the thread uses, its own but for the request; shared with
    // the thread, so that a thread left behind reaches nothing freed.
    struct Loop;

    std::shared_ptr<Loop> loop_;
    std::shared_ptr<DetachedTask> thread_;
};

}  // namespace tarvik
