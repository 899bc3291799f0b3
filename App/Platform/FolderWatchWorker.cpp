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
#include <mutex>
#include <optional>
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

bool sameFolder(const FolderWatchWorker::Sight& a, const FolderWatchWorker::Sight& b) {
    return a.kind == b.kind && a.device == b.device && a.inode == b.inode;
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

struct FolderWatchWorker::Loop {
    Loop(std::function<void(Report)> reportTo, Timing timed, List listing)
        : report(std::move(reportTo)), timing(timed), list(std::move(listing)) {}
    ~Loop() {
        if (inotify >= 0) ::close(inotify);  // drops every watch with it
        if (wake >= 0) ::close(wake);
    }
    Loop(const Loop&) = delete;
    Loop& operator=(const Loop&) = delete;

    void run(std::stop_token stop);
    void wakeUp() const;
    bool readEvents();
    void arm();
    // `asked`: for a new folder to watch or a change told, not on time alone.
    void lookAndReport(bool asked);
    // What the owner lists in the folder `sight` found; `sight` becomes gone
    // where the folder could not be listed as that one.
    std::vector<std::string> listingOf(Sight& sight) const;

    const std::function<void(Report)> report;
    const Timing timing;
    const List list;
    int wake = -1;     // an eventfd: a new folder to watch, or the stop
    int inotify = -1;  // -1: no kernel watch to be had; looks go on

    struct Request {
        std::filesystem::path folder;
        std::uint64_t number = 0;
    };
    std::mutex mutex;  // guards requested
    std::optional<Request> requested;

    // The thread's alone: the folder with the request it answers, the
    // chain's watch descriptors and the folder's own descriptor (-1 while it
    // is not there to watch).
    std::filesystem::path folder;
    std::uint64_t request = 0;
    std::vector<int> watches;
    int folderWatch = -1;
    bool ownChange = false;
    // Where the folder lay (FolderPlaces) and what was listed in it when a
    // look found it as `placesFor`.
    std::vector<FolderPlace> places;
    std::vector<std::string> names;
    Sight placesFor;
};

FolderWatchWorker::FolderWatchWorker(std::function<void(Report)> report, Timing timing, List list)
    : loop_(std::make_shared<Loop>(std::move(report), timing, std::move(list))) {
    loop_->wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (loop_->wake < 0) return;
    loop_->inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    try {
        thread_ = DetachedTask::start(
            [loop = loop_](std::stop_token stop) { loop->run(std::move(stop)); });
    } catch (const std::system_error&) {
        // No thread: the folder is not followed.
    }
}

FolderWatchWorker::~FolderWatchWorker() {
    if (!thread_) return;
    // The stop wakes the thread through its eventfd, which the loop keeps
    // open for as long as the thread holds it.
    thread_->cancel();
    thread_->wait();
}

void FolderWatchWorker::leave() {
    if (thread_) thread_->cancel();
    thread_.reset();
}

void FolderWatchWorker::watch(std::filesystem::path folder, std::uint64_t request) {
    {
        std::lock_guard lock(loop_->mutex);
        loop_->requested = Loop::Request{std::move(folder), request};
    }
    loop_->wakeUp();
}

void FolderWatchWorker::Loop::wakeUp() const {
    const std::uint64_t one = 1;
    // Full only after 2^64 - 1 wakes nobody read: the thread is awake anyway.
    if (wake >= 0 && ::write(wake, &one, sizeof one) < 0) return;
}

void FolderWatchWorker::Loop::run(std::stop_token stop) {
    std::stop_callback wakeOnStop(stop, [this] { wakeUp(); });
    // When a burst of changes has settled; never while none is pending.
    constexpr Clock::time_point never = Clock::time_point::max();
    Clock::time_point settleAt = never;
    Clock::time_point recheckAt = Clock::now() + timing.recheck;
    while (!stop.stop_requested()) {
        const Clock::time_point until = std::min(settleAt, recheckAt);
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        std::array<pollfd, 2> ready{{{wake, POLLIN, 0}, {inotify, POLLIN, 0}}};
        const nfds_t count = inotify >= 0 ? 2 : 1;
        const int timeout = static_cast<int>(std::max<std::int64_t>(wait.count(), 0));
        if (::poll(ready.data(), count, timeout) < 0 && errno != EINTR) return;
        if (stop.stop_requested()) return;
        if ((ready[0].revents & POLLIN) != 0) {
            std::uint64_t wakes = 0;
            if (::read(wake, &wakes, sizeof wakes) < 0) wakes = 0;  // EAGAIN: read already
        }
        std::optional<Request> asked;
        {
            std::lock_guard lock(mutex);
            asked = std::exchange(requested, std::nullopt);
        }
        if (asked) {
            if (asked->folder != folder) ownChange = false;
            folder = std::move(asked->folder);
            request = asked->number;
            settleAt = never;
        } else if ((ready[1].revents & POLLIN) != 0 && readEvents() && settleAt == never) {
            settleAt = Clock::now() + timing.settle;
        }
        const Clock::time_point now = Clock::now();
        const bool settled = now >= settleAt;
        if (asked || settled || now >= recheckAt) {
            settleAt = never;
            lookAndReport(asked || settled);
            recheckAt = Clock::now() + timing.recheck;
        }
    }
}

bool FolderWatchWorker::Loop::readEvents() {
    // Aligned as the kernel writes its records; a read never splits one.
    alignas(inotify_event) std::array<char, 8192> buffer{};
    bool any = false;
    for (;;) {
        const ssize_t got = ::read(inotify, buffer.data(), buffer.size());
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
            if (event.wd == folderWatch || (event.mask & IN_Q_OVERFLOW) != 0) ownChange = true;
        }
    }
    return any;
}

void FolderWatchWorker::Loop::arm() {
    if (inotify < 0) return;
    // The new chain is in place before the old watches go, so that no change
    // falls between the two. A folder already watched keeps its descriptor.
    std::vector<int> armed;
    int own = -1;
    if (!folder.empty()) {
        const std::vector<fs::path> chain = chainsOf(folder);
        for (std::size_t at = 0; at < chain.size(); ++at) {
            const int watch = ::inotify_add_watch(inotify, chain[at].c_str(), watchedEvents);
            if (watch < 0) continue;  // not there (yet), or not a folder
            if (at == 0) own = watch;
            if (std::find(armed.begin(), armed.end(), watch) == armed.end()) armed.push_back(watch);
        }
    }
    for (const int old : watches) {
        if (std::find(armed.begin(), armed.end(), old) == armed.end()) {
            ::inotify_rm_watch(inotify, old);
        }
    }
    watches = std::move(armed);
    folderWatch = own;
}

std::vector<std::string> FolderWatchWorker::Loop::listingOf(Sight& sight) const {
    // A folder renamed, removed or unmounted between its opening and its
    // listing would be told as there and empty, and its owner would drop all
    // it knew of it: a listing counts only where the folder is still the one
    // that was opened.
    for (int attempt = 0; sight.there() && list; ++attempt) {
        std::optional<std::vector<std::string>> listed = list(folder);
        const Sight after = lookAt(folder);
        if (sameFolder(after, sight)) {
            if (listed) return std::move(*listed);
            sight = {};  // there, but nothing can be read from it
            return {};
        }
        // Another folder, or none, since the opening: looked at as it is now;
        // one still changing is gone for now, and the change that settles it
        // is told as any other.
        sight = attempt < 2 ? after : Sight{};
    }
    return {};
}

void FolderWatchWorker::Loop::lookAndReport(bool asked) {
    if (folder.empty()) {
        arm();  // lets every watch go
        ownChange = false;
        return;
    }
    // Told first: laying the watches anew may wait on the file system as well.
    report({.kind = Report::Kind::looking,
            .folder = folder,
            .sight = {},
            .entriesChanged = false,
            .request = request});
    arm();
    Report looked{.kind = Report::Kind::looked,
                  .folder = folder,
                  .sight = lookAt(folder),
                  .entriesChanged = ownChange,
                  .request = request};
    // Where it lies and what is in it, so that its owner decides by that
    // without asking its file system on a thread of its own. Listing a large
    // library costs milliseconds: a look on time alone lists it again only
    // where it found another folder than the last look did.
    if (asked || !sameFolder(looked.sight, placesFor) || places.empty()) {
        places = FolderPlaces::of(folder);
        names = listingOf(looked.sight);
        placesFor = looked.sight;
    }
    looked.sight.places = places;
    looked.sight.names = names;
    ownChange = false;
    report(std::move(looked));
}

}  // namespace tarvik
