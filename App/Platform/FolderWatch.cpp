#include "App/Platform/FolderWatch.hpp"

#include <QTimer>
#include <algorithm>

namespace tarvik {

FolderWatch::FolderWatch(Changed changed, QObject* parent)
    : FolderWatch(std::move(changed), Timing{}, {}, parent) {}

FolderWatch::FolderWatch(Changed changed, Timing timing, List list, QObject* parent)
    : QObject(parent),
      changed_(std::move(changed)),
      answer_(new QTimer(this)),
      timing_(timing),
      list_(std::move(list)) {
    answer_->setSingleShot(true);
    answer_->setInterval(timing.answer);
    connect(answer_, &QTimer::timeout, this, [this] {
        overdue_ = true;
        tell({.kind = Sight::Kind::notAnswering}, false);
    });
    startWorker();
}

void FolderWatch::startWorker() {
    // What the worker posted and was not yet taken goes with this object; a
    // worker left behind, held by its file system, posts to nobody.
    worker_ = std::make_unique<FolderWatchWorker>(
        [this, outlet = outlet_](FolderWatchWorker::Report report) {
            outlet.post([this, report = std::move(report)] { take(report); });
        },
        timing_.worker, list_);
}

FolderWatch::~FolderWatch() {
    outlet_.close();
    // A look under way may be held by its file system: it is not waited for.
    if (answer_->isActive() || overdue_) worker_->leave();
    worker_.reset();
}

void FolderWatch::watch(const std::filesystem::path& folder, bool ownerSees) {
    if (folder != folder_) {
        // A worker in the middle of a look at the folder watched so far may be
        // held by its file system, and would look at this one only once that
        // answers: a new one looks now, and the other one ends by itself
        // (what it still tells is of the other folder).
        if (answer_->isActive() || overdue_) {
            worker_->leave();
            startWorker();
        }
        // A look of the folder watched so far says nothing of this one.
        folder_ = folder;
        answer_->stop();
        overdue_ = false;
        looked_ = false;
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
    looked_ = true;
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
