#include "App/Platform/FolderWatch.hpp"

#include <QTimer>
#include <algorithm>

namespace tarvik {

FolderWatch::FolderWatch(Changed changed, QObject* parent)
    : FolderWatch(std::move(changed), Timing{}, parent) {}

FolderWatch::FolderWatch(Changed changed, Timing timing, QObject* parent)
    : QObject(parent), changed_(std::move(changed)), answer_(new QTimer(this)) {
    answer_->setSingleShot(true);
    answer_->setInterval(timing.answer);
    connect(answer_, &QTimer::timeout, this, [this] {
        overdue_ = true;
        tell({.kind = Sight::Kind::notAnswering}, false);
    });
    // The worker is joined in the destructor before this object goes; what it
    // posted and was not yet taken goes with the object.
    worker_ = std::make_unique<FolderWatchWorker>(
        [this](FolderWatchWorker::Report report) {
            QMetaObject::invokeMethod(
                this, [this, report = std::move(report)] { take(report); }, Qt::QueuedConnection);
        },
        timing.worker);
}

FolderWatch::~FolderWatch() {
    worker_.reset();
}

void FolderWatch::watch(const std::filesystem::path& folder, bool ownerSees) {
    if (folder != folder_) {
        // A look of the folder watched so far says nothing of this one.
        folder_ = folder;
        answer_->stop();
        overdue_ = false;
        lastLook_ = {};
    }
    told_ = ownerSees ? Sight{.kind = Sight::Kind::there} : Sight{};
    worker_->watch(folder, ++asked_);
}

void FolderWatch::take(const FolderWatchWorker::Report& report) {
    if (report.folder != folder_) return;
    if (report.kind == FolderWatchWorker::Report::Kind::looking) {
        if (!answer_->isActive() && !overdue_) answer_->start();
        return;
    }
    answer_->stop();
    overdue_ = false;
    lastLook_ = report.sight;
    answered_ = std::max(answered_, report.request);
    tell(report.sight, report.entriesChanged);
    emit lookEnded();
}

void FolderWatch::tell(const Sight& sight, bool entriesChanged) {
    bool changed = entriesChanged || sight.kind != told_.kind;
    // The owner's own look tells that the folder is there, not which one it is.
    const bool identified = told_.device != 0 || told_.inode != 0;
    if (!changed && sight.there() && identified) {
        changed = sight.device != told_.device || sight.inode != told_.inode;
    }
    told_ = sight;
    if (changed && changed_) changed_(told_);
}

}  // namespace tarvik
