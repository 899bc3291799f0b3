#pragma once
// Tells its owner, on the GUI thread, that a folder may have gone, come back,
// been replaced, had its entries changed, or that its file system stopped
// answering. Everything that touches the file system (the kernel watches up
// the folder's path and its links' targets, laid anew after each change, and
// every look at the folder) runs on the watch's own worker, so that a file
// system that stops answering never holds the GUI thread: a look unanswered
// after `answer` is told as `notAnswering`, and the next look that ends is
// told as it finds the folder. A folder watched anew has its deadline from
// the watch() on, and a worker held by a folder no longer watched is left
// behind for a new one once it passes. Changes come together within a tenth of a
// second; the folder is looked at every few seconds besides, for what no
// kernel watch tells (a FUSE daemon that died). Each look that ends also
// leaves where the folder lies (FolderPlaces) and what the owner's listing
// found in it, which the owner reads instead of asking the file system
// itself. Owned by one object; GUI thread only. The worker is stopped and
// waited for with the watch, but a worker held by a file system that does not
// answer is not waited for once the program is ending (FolderWatchWorker).
#include <QObject>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "App/Platform/FolderWatchWorker.hpp"
#include "App/Platform/GuiOutlet.hpp"

class QTimer;

namespace tarvik {

class FolderWatch : public QObject {
    Q_OBJECT

public:
    using Sight = FolderWatchWorker::Sight;
    using Changed = std::function<void(const Sight&)>;
    using List = FolderWatchWorker::List;
    struct Timing {
        FolderWatchWorker::Timing worker;
        // How long a look may take before the folder counts as not answering.
        std::chrono::milliseconds answer{2000};
    };

    explicit FolderWatch(Changed changed, QObject* parent = nullptr);
    // `list`: what each look that finds the folder lists of it (Sight::names).
    FolderWatch(Changed changed, Timing timing, List list = {}, QObject* parent = nullptr);
    ~FolderWatch() override;
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Watches `folder` from now on (an empty path: nothing) and looks at it
    // again; returns at once. `ownerSees`: whether the owner, looking itself
    // just now, could list the folder. What the watch finds is told whenever
    // it differs from that, the first look included, or from what it told
    // last: an owner that found the folder gone by itself (a run that lost
    // it) still hears of its return.
    void watch(const std::filesystem::path& folder, bool ownerSees);

    // A look at the folder has been waiting longer than `answer`: whoever
    // would ask its file system on this thread had better not.
    bool notAnswering() const { return overdue_; }

    const std::filesystem::path& folder() const { return folder_; }
    // What the last look that ended found of the folder watched now, its
    // places included: gone, with no places, before any.
    const Sight& lastLook() const { return lastLook_; }
    // A look of the folder watched now has ended: lastLook() is what it found.
    bool hasLooked() const { return looked_; }
    // A look that began after the last watch() has ended: lastLook() tells the
    // folder as it stood then. Always so for an empty path.
    bool lookCurrent() const { return folder_.empty() || answered_ >= asked_; }

signals:
    // A look ended (after what it found was told, if it was).
    void lookEnded();

private:
    void startWorker();
    // Leaves the worker to end by itself and has a new one look at folder_.
    void replaceWorker();
    void take(const FolderWatchWorker::Report& report);
    void tell(const Sight& sight, bool entriesChanged);

    Changed changed_;
    std::filesystem::path folder_;
    Sight told_;  // what the owner knows of the folder
    Sight lastLook_;
    std::uint64_t asked_ = 0;     // the watch() calls so far
    std::uint64_t answered_ = 0;  // the latest of them a look that ended began after
    bool overdue_ = false;        // the look under way is overdue
    bool looked_ = false;         // a look of folder_ has ended
    // The folder whose look the worker began and has not ended, whichever it is.
    std::optional<std::filesystem::path> looking_;
    std::uint64_t workers_ = 0;  // the workers started so far, the last one watching
    QTimer* answer_ = nullptr;
    GuiOutlet outlet_{this};  // the worker's reports to this object
    Timing timing_;
    List list_;
    std::unique_ptr<FolderWatchWorker> worker_;  // stopped first
};

}  // namespace tarvik
