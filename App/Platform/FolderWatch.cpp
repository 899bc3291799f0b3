#include "App/Platform/FolderWatch.hpp"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace tarvik {

namespace {

// Entries coming and going, a changed mode (a folder that may no longer be
// listed), and the watched folder itself renamed or removed. IN_UNMOUNT and
// IN_Q_OVERFLOW come unasked.
constexpr std::uint32_t watchedEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                        IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// Long enough that a copy or a move of many entries is one change, short
// enough that the window follows well within a second.
constexpr std::chrono::milliseconds settleTime(100);

// The folder and every folder above it, the folder first.
std::vector<std::filesystem::path> chainOf(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::path at = std::filesystem::absolute(folder, error).lexically_normal();
    if (error) return {};
    if (!at.has_filename() && at.has_relative_path()) at = at.parent_path();  // "…/Music/"
    std::vector<std::filesystem::path> chain{at};
    while (at.has_relative_path()) {
        at = at.parent_path();
        chain.push_back(at);
    }
    return chain;
}

}  // namespace

FolderWatch::FolderWatch(std::function<void()> changed, QObject* parent)
    : QObject(parent), changed_(std::move(changed)), settle_(new QTimer(this)) {
    settle_->setSingleShot(true);
    settle_->setInterval(settleTime);
    connect(settle_, &QTimer::timeout, this, &FolderWatch::settle);
}

FolderWatch::~FolderWatch() {
    delete notifier_;                            // before its descriptor closes
    if (descriptor_ >= 0) ::close(descriptor_);  // drops every watch with it
}

void FolderWatch::watch(const std::filesystem::path& folder) {
    if (folder != folder_) ownChange_ = false;
    folder_ = folder;
    // The owner looks at the folder itself whenever it calls this, so the
    // folder as it now stands is what it knows. Kept from an earlier settle
    // instead, a going the owner found by itself (a run that lost the folder)
    // would leave the watch believing the folder was still there, and the
    // folder's return, the same folder again, would look like no change.
    seen_ = identityOf(folder_);
    arm();
}

FolderWatch::Identity FolderWatch::identityOf(const std::filesystem::path& folder) {
    struct stat facts {};
    if (folder.empty() || ::stat(folder.c_str(), &facts) != 0 || !S_ISDIR(facts.st_mode)) return {};
    return {.listable = ::access(folder.c_str(), R_OK | X_OK) == 0,
            .device = facts.st_dev,
            .inode = facts.st_ino};
}

bool FolderWatch::open() {
    if (descriptor_ >= 0) return true;
    descriptor_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (descriptor_ < 0) return false;
    notifier_ = new QSocketNotifier(descriptor_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &FolderWatch::readEvents);
    return true;
}

void FolderWatch::arm() {
    if (folder_.empty() && watches_.empty()) return;
    if (!open()) return;
    // The new chain is in place before the old watches go, so that no change
    // falls between the two. A folder already watched keeps its descriptor.
    std::vector<int> armed;
    int own = -1;
    if (!folder_.empty()) {
        const std::vector<std::filesystem::path> chain = chainOf(folder_);
        for (std::size_t at = 0; at < chain.size(); ++at) {
            const int watch = ::inotify_add_watch(descriptor_, chain[at].c_str(), watchedEvents);
            if (watch < 0) continue;  // not there (yet), or not a folder
            if (at == 0) own = watch;
            armed.push_back(watch);
        }
    }
    for (const int old : watches_) {
        if (std::find(armed.begin(), armed.end(), old) == armed.end()) {
            ::inotify_rm_watch(descriptor_, old);
        }
    }
    watches_ = std::move(armed);
    folderWatch_ = own;
}

void FolderWatch::readEvents() {
    // Aligned as the kernel writes its records; a read never splits one.
    alignas(inotify_event) std::array<char, 8192> buffer{};
    bool any = false;
    for (;;) {
        const ssize_t got = ::read(descriptor_, buffer.data(), buffer.size());
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
    if (any && !settle_->isActive()) settle_->start();
}

void FolderWatch::settle() {
    arm();
    const Identity now = identityOf(folder_);
    const bool changed = ownChange_ || now != seen_;
    seen_ = now;
    ownChange_ = false;
    if (changed && changed_) changed_();
}

}  // namespace tarvik
