#pragma once
// Tells its owner, on the GUI thread, that a folder may have gone, come back,
// been replaced, had its entries changed, or that its file system stopped
// answering. Everything that touches the file system (the kernel watches up
// the folder's path and its links' targets, laid anew after each change, and
// every look at the folder) runs on the watch's own worker, so that a file
// system that stops answering never holds the GUI thread: a look unanswered
// after `answer` is told as `notAnswering`, and the next look that ends is
// told as it finds the folder. Changes come together within a tenth of a
// second; the folder is looked at every few seconds besides, for what no
// kernel watch tells (a FUSE daemon that died). Owned by one object; GUI
// thread only. The worker is stopped and joined with the watch.
#include <QObject>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

#include "App/Platform/FolderWatchWorker.hpp"

class QTimer;

namespace tarvik {

class FolderWatch : public QObject {
    Q_OBJECT

public:
    using Sight = FolderWatchWorker::Sight;
    using Changed = std::function<void(const Sight&)>;
    struct Timing {
        FolderWatchWorker::Timing worker;
        // How long a look may take before the folder counts as not answering.
        std::chrono::milliseconds answer{2000};
    };

    explicit FolderWatch(Changed changed, QObject* parent = nullptr);
    FolderWatch(Changed changed, Timing timing, QObject* parent = nullptr);
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

private:
    void take(const FolderWatchWorker::Report& report);
    void tell(const Sight& sight, bool entriesChanged);

    Changed changed_;
    std::filesystem::path folder_;
    Sight told_;            // what the owner knows of the folder
    bool overdue_ = false;  // the look under way is overdue
    QTimer* answer_ = nullptr;
    std::unique_ptr<FolderWatchWorker> worker_;  // stopped and joined first
};

}  // namespace tarvik
