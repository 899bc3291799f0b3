#include "App/Platform/MountWatcher.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>

namespace tarvik {

MountWatcher::MountWatcher(const std::filesystem::path& mountInfo, std::function<void()> changed,
                           QObject* parent)
    : QObject(parent), changed_(std::move(changed)) {
    descriptor_ = ::open(mountInfo.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor_ < 0) return;
    // The table is always readable; only the priority mark (POLLPRI, Qt's
    // "exception" kind) says that it changed. Polling clears the mark.
    notifier_ = new QSocketNotifier(descriptor_, QSocketNotifier::Exception, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { changed_(); });
}

MountWatcher::~MountWatcher() {
    delete notifier_;  // before its descriptor closes
    if (descriptor_ >= 0) ::close(descriptor_);
}

}  // namespace tarvik
