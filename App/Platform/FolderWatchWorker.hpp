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
// destructor wakes the thread and joins it, so it waits for a look held by a
// file system until that file system answers or is gone. Without a thread to
// be had it reports nothing; without a kernel watch, only its timed looks.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

#include "App/Platform/FolderPlaces.hpp"

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

    FolderWatchWorker(std::function<void(Report)> report, Timing timing);
    ~FolderWatchWorker();
    FolderWatchWorker(const FolderWatchWorker&) = delete;
    FolderWatchWorker& operator=(const FolderWatchWorker&) = delete;

    // Watches `folder` from now on, in place of the one watched so far (an
    // empty path: nothing), and looks at it; the reports of that look and of
    // every later one carry `request`. Any thread; never waits on a file system.
    void watch(std::filesystem::path folder, std::uint64_t request);

private:
    void run(std::stop_token stop);
    void wake() const;
    bool readEvents();
    void arm();
    // `asked`: for a new folder to watch or a change told, not on time alone.
    void lookAndReport(bool asked);

    std::function<void(Report)> report_;
    Timing timing_;
    int wake_ = -1;     // an eventfd: a new folder to watch, or the stop
    int inotify_ = -1;  // -1: no kernel watch to be had; looks go on

    struct Request {
        std::filesystem::path folder;
        std::uint64_t number = 0;
    };
    std::mutex mutex_;  // guards requested_
    std::optional<Request> requested_;

    // The thread's own: the folder with the request it answers, the chain's
    // watch descriptors and the folder's own descriptor (-1 while it is not
    // there to watch).
    std::filesystem::path folder_;
    std::uint64_t request_ = 0;
    std::vector<int> watches_;
    int folderWatch_ = -1;
    bool ownChange_ = false;
    // Where the folder lay (FolderPlaces) when a look found it as `placesFor_`.
    std::vector<FolderPlace> places_;
    Sight placesFor_;

    std::jthread thread_;  // last: it stops and joins before the rest goes
};

}  // namespace tarvik
