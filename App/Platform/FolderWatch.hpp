#pragma once
// Tells its owner, on the GUI thread, that a folder may have gone, come back,
// been replaced or had its entries changed. A kernel watch sits on the folder
// and on every folder above it: a rename or a removal anywhere up the path
// shows only in the folder that held the name, and a watch whose folder went
// is dropped by the kernel and never comes back by itself. So after every
// change the whole chain is watched anew from the names as they now stand,
// and `watch` does the same for callers that learnt of a change elsewhere (a
// mount). Changes come together within a tenth of a second. Without a kernel
// watch to be had it stays silent. Owned by one object; GUI thread only.
#include <sys/types.h>

#include <QObject>
#include <filesystem>
#include <functional>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace tarvik {

class FolderWatch : public QObject {
    Q_OBJECT

public:
    explicit FolderWatch(std::function<void()> changed, QObject* parent = nullptr);
    ~FolderWatch() override;
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Watches `folder` from now on, in place of the folder watched so far; an
    // empty path watches nothing. Called again with the same folder, it
    // watches the chain anew. Either way the folder as it stands now is taken
    // for what the owner knows: only a change from it is told.
    void watch(const std::filesystem::path& folder);

private:
    // What the owner can tell of the folder: whether it is a directory it may
    // list, and which one.
    struct Identity {
        bool listable = false;
        dev_t device = 0;
        ino_t inode = 0;
        bool operator==(const Identity&) const = default;
    };
    static Identity identityOf(const std::filesystem::path& folder);

    bool open();
    void arm();
    void readEvents();
    void settle();

    std::function<void()> changed_;
    std::filesystem::path folder_;
    int descriptor_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    QTimer* settle_ = nullptr;
    std::vector<int> watches_;  // the chain's watch descriptors, the folder's own first
    int folderWatch_ = -1;      // -1 while the folder itself is not there to watch
    bool ownChange_ = false;    // the folder's own entries changed since the last settle
    Identity seen_;
};

}  // namespace tarvik
