#pragma once
// Calls back on the GUI thread whenever the kernel reports a change of the
// mount table. The kernel marks an open /proc/self/mountinfo with priority
// data after every mount and unmount, so a socket notifier on its descriptor
// sees each change without polling. A table that can't be opened (or a plain
// file, which never reports a change) gives a watcher that stays silent.
#include <QObject>
#include <filesystem>
#include <functional>

class QSocketNotifier;

namespace tarvik {

class MountWatcher : public QObject {
    Q_OBJECT

public:
    MountWatcher(const std::filesystem::path& mountInfo, std::function<void()> changed,
                 QObject* parent = nullptr);
    ~MountWatcher() override;

private:
    int descriptor_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    std::function<void()> changed_;
};

}  // namespace tarvik
