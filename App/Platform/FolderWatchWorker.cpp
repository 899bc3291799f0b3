#include "App/Platform/FolderWatchWorker.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <utility>

namespace tarvik {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Entries coming and going, a changed mode (a folder that may no longer be
// listed), and the watched folder itself renamed or removed. IN_UNMOUNT and
// IN_Q_OVERFLOW come unasked.
constexpr std::uint32_t watchedEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                        IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// The folder and every folder above it, the folder first.
std::vector<fs::path> chainOf(fs::path at) {
    if (!at.has_filename() && at.has_relative_path()) at = at.parent_path();  // "…/Music/"
    std::vector<fs::path> chain{at};
    while (at.has_relative_path()) {
        at = at.parent_path();
        chain.push_back(at);
    }
    return chain;
}

// The chain of the folder as named and, where a link on the way leads
// elsewhere, the chain of where it leads: a rename above a link's target
// shows only there. The folder's own place first.
std::vector<fs::path> chainsOf(const fs::path& folder) {
    std::error_code error;
    const fs::path named = fs::absolute(folder, error).lexically_normal();
    if (error) return {};
    std::vector<fs::path> chain = chainOf(named);
    for (fs::path& level : chainOf(FolderPlaces::resolved(chain.front()))) {
        if (std::find(chain.begin(), chain.end(), level) == chain.end()) {
            chain.push_back(std::move(level));
        }
    }
    return chain;
}

// Whether the folder can be listed, and which folder it is: one opening
// answers both, as a listing would.
FolderWatchWorker::Sight lookAt(const fs::path& folder) {
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return {};
    struct stat facts {};
    const bool known = ::fstat(descriptor, &facts) == 0;
    ::close(descriptor);
    if (!known) return {};
    return {.kind = FolderWatchWorker::Sight::Kind::there,
            .device = facts.st_dev,
            .inode = facts.st_ino};
}

}  // namespace

FolderWatchWorker::FolderWatchWorker(std::function<void(Report)> report, Timing timing)
    : report_(std::move(report)), timing_(timing) {
    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_ < 0) return;
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    try {
        thread_ = std::jthread([this](std::stop_token stop) { run(std::move(stop)); });
    } catch (const std::system_error&) {
        // No thread: the folder is not followed.
    }
}

FolderWatchWorker::~FolderWatchWorker() {
    // Before the descriptors close: the stop wakes the thread through one.
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
    if (inotify_ >= 0) ::close(inotify_);  // drops every watch with it
    if (wake_ >= 0) ::close(wake_);
}

void FolderWatchWorker::watch(std::filesystem::path folder, std::uint64_t request) {
    {
        std::lock_guard lock(mutex_);
        requested_ = Request{std::move(folder), request};
    }
    wake();
}

void FolderWatchWorker::wake() const {
    const std::uint64_t one = 1;
    // Full only after 2^64 - 1 wakes nobody read: the thread is awake anyway.
    if (wake_ >= 0 && ::write(wake_, &one, sizeof one) < 0) return;
}

void FolderWatchWorker::run(std::stop_token stop) {
    std::stop_callback wakeOnStop(stop, [this] { wake(); });
    // When a burst of changes has settled; never while none is pending.
    constexpr Clock::time_point never = Clock::time_point::max();
    Clock::time_point settleAt = never;
    Clock::time_point recheckAt = Clock::now() + timing_.recheck;
    while (!stop.stop_requested()) {
        const Clock::time_point until = std::min(settleAt, recheckAt);
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        std::array<pollfd, 2> ready{{{wake_, POLLIN, 0}, {inotify_, POLLIN, 0}}};
        const nfds_t count = inotify_ >= 0 ? 2 : 1;
        const int timeout = static_cast<int>(std::max<std::int64_t>(wait.count(), 0));
        if (::poll(ready.data(), count, timeout) < 0 && errno != EINTR) return;
        if (stop.stop_requested()) return;
        if ((ready[0].revents & POLLIN) != 0) {
            std::uint64_t wakes = 0;
            if (::read(wake_, &wakes, sizeof wakes) < 0) wakes = 0;  // EAGAIN: read already
        }
        std::optional<Request> requested;
        {
            std::lock_guard lock(mutex_);
            requested = std::exchange(requested_, std::nullopt);
        }
        if (requested) {
            if (requested->folder != folder_) ownChange_ = false;
            folder_ = std::move(requested->folder);
            request_ = requested->number;
            settleAt = never;
        } else if ((ready[1].revents & POLLIN) != 0 && readEvents() && settleAt == never) {
            settleAt = Clock::now() + timing_.settle;
        }
        const Clock::time_point now = Clock::now();
        const bool settled = now >= settleAt;
        if (requested || settled || now >= recheckAt) {
            settleAt = never;
            lookAndReport(requested || settled);
            recheckAt = Clock::now() + timing_.recheck;
        }
    }
}

bool FolderWatchWorker::readEvents() {
    // Aligned as the kernel writes its records; a read never splits one.
    alignas(inotify_event) std::array<char, 8192> buffer{};
    bool any = false;
    for (;;) {
        const ssize_t got = ::read(inotify_, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;  // drained (EAGAIN), or nothing more to be had
        const std::size_t end = static_cast<std::size_t>(got);
        for (std::size_t at = 0; end - at >= sizeof(inotify_event);) {
            inotify_event event{};
            std::memcpy(&event, buffer.data() + at, sizeof event);
            at += sizeof event;
            if (event.len > end - at) break;
            at += event.len;
            // A watch that went says nothing by itself: the change that took it
            // (a removal, an unmount) has its own record, and so has our own arm().
            if (event.mask == IN_IGNORED) continue;
            any = true;
            if (event.wd == folderWatch_ || (event.mask & IN_Q_OVERFLOW) != 0) ownChange_ = true;
        }
    }
    return any;
}

void FolderWatchWorker::arm() {
    if (inotify_ < 0) return;
    // The new chain is in place before the old watches go, so that no change
    // falls between the two. A folder already watched keeps its descriptor.
    std::vector<int> armed;
    int own = -1;
    if (!folder_.empty()) {
        const std::vector<fs::path> chain = chainsOf(folder_);
        for (std::size_t at = 0; at < chain.size(); ++at) {
            const int watch = ::inotify_add_watch(inotify_, chain[at].c_str(), watchedEvents);
            if (watch < 0) continue;  // not there (yet), or not a folder
            if (at == 0) own = watch;
            if (std::find(armed.begin(), armed.end(), watch) == armed.end()) armed.push_back(watch);
        }
    }
    for (const int old : watches_) {
        if (std::find(armed.begin(), armed.end(), old) == armed.end()) {
            ::inotify_rm_watch(inotify_, old);
        }
    }
    watches_ = std::move(armed);
    folderWatch_ = own;
}

void FolderWatchWorker::lookAndReport(bool asked) {
    if (folder_.empty()) {
        arm();  // lets every watch go
        ownChange_ = false;
        return;
    }
    // Told first: laying the watches anew may wait on the file system as well.
    report_({.kind = Report::Kind::looking,
             .folder = folder_,
             .sight = {},
             .entriesChanged = false,
             .request = request_});
    arm();
    Report looked{.kind = Report::Kind::looked,
                  .folder = folder_,
                  .sight = lookAt(folder_),
                  .entriesChanged = ownChange_,
                  .request = request_};
    // Where it lies, so that its owner decides by that without asking its
    // file system on a thread of its own. Listing a large library costs
    // milliseconds: a look on time alone lists it again only where it found
    // another folder than the last look did.
    const bool same = looked.sight.kind == placesFor_.kind &&
                      looked.sight.device == placesFor_.device &&
                      looked.sight.inode == placesFor_.inode;
    if (asked || !same || places_.empty()) {
        places_ = FolderPlaces::of(folder_);
        placesFor_ = looked.sight;
    }
    looked.sight.places = places_;
    ownChange_ = false;
    report_(std::move(looked));
}

}  // namespace tarvik
