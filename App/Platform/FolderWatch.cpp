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
        if (looking_ && *looking_ != folder_) {
            // The worker is held by a folder no longer watched, and would look
            // at this one only once that answers: a new one looks now.
            replaceWorker();
            answer_->start();
            return;
        }
        overdue_ = true;
        tell({.kind = Sight::Kind::notAnswering}, false);
    });
    startWorker();
}

void FolderWatch::startWorker() {
    const std::uint64_t worker = ++workers_;
    // What the worker posted and was not yet taken goes with this object; a
    // worker left behind, held by its file system, posts to nobody; what it
    // posted before it was left is not taken.
    worker_ = std::make_unique<FolderWatchWorker>(
        [this, outlet = outlet_, worker](FolderWatchWorker::Report report) {
            outlet.post([this, worker, report = std::move(report)] {
                if (worker == workers_) take(report);
            });
        },
        timing_.worker, list_);
}

void FolderWatch::replaceWorker() {
    worker_->leave();
    looking_.reset();
    startWorker();
    worker_->watch(folder_, asked_);
}

FolderWatch::~FolderWatch() {
    outlet_.close();
    // A look under way may be held by its file system: it is not waited for.
    if (looking_ || overdue_) worker_->leave();
    worker_.reset();
}

void FolderWatch::watch(const std::filesystem::path& folder, bool ownerSees) {
    const bool another = folder != folder_;
    if (another) {
        // A worker in the middle of a look at the folder watched so far may be
        // held by its file system, and would look at this one only once that
        // answers: a new one looks now, and the other one ends by itself.
        const bool underWay = looking_ || overdue_;
        // A look of the folder watched so far says nothing of this one.
        folder_ = folder;
        ++asked_;
        answer_->stop();
        overdue_ = false;
        looked_ = false;
        lastLook_ = {};
        if (underWay) {
            replaceWorker();
        } else {
            worker_->watch(folder, asked_);
        }
        // From now, not from when the window hears that the look began: a
        // worker that began a look of the other folder just before, unheard
        // of yet, may be held by it, and this folder needs a deadline all
        // the same.
        if (!folder.empty()) answer_->start();
    } else {
        worker_->watch(folder, ++asked_);
    }
    told_ = ownerSees ? Sight{.kind = Sight::Kind::there} : Sight{};
}

void FolderWatch::take(const FolderWatchWorker::Report& report) {
    if (report.kind == FolderWatchWorker::Report::Kind::looking)
        looking_ = report.folder;
    else
        looking_.reset();
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
