// The run log and low-load mode: lines go straight into the log, or, while a
// run converts in low-load mode, wait in pendingLog until the one-second flush
// timer or the end of the run moves them over in one batch.
#include "App/Model/AppModel.hpp"
#include "Core/Platform/Uuid.hpp"

namespace tarvik {

void AppModel::appendLog(LogLine::Kind kind, const std::string& text) {
    LogLine line{makeUuid(), kind, text};
    if (lowLoad() && state_.is(RunState::Case::running)) {
        pendingLog_.push_back(std::move(line));
    } else {
        log_.push_back(std::move(line));
        emit logAppended(1);
    }
    // A flush may have left the log above the limit: every append trims it,
    // held back or not, from the front in one step.
    if (log_.size() > logLimit) {
        const auto excess = static_cast<qsizetype>(log_.size() - logLimit);
        log_.erase(log_.begin(), log_.begin() + excess);
        emit logTrimmed(excess);
    }
}

void AppModel::flushPendingLog() {
    if (!pendingLog_.empty()) {
        const auto count = static_cast<qsizetype>(pendingLog_.size());
        log_.insert(log_.end(), std::make_move_iterator(pendingLog_.begin()),
                    std::make_move_iterator(pendingLog_.end()));
        pendingLog_.clear();
        emit logAppended(count);
    }
    // The flush at the end of a run comes while the state is still running, so
    // the timer stops at its next tick.
    if (!state_.is(RunState::Case::running) && flushTimer_ != nullptr) {
        flushTimer_->stop();
        flushTimer_->deleteLater();
        flushTimer_ = nullptr;
    }
}

void AppModel::startFlushTimer() {
    if (flushTimer_ != nullptr) {
        flushTimer_->stop();
        flushTimer_->deleteLater();
    }
    // A child of the model: it dies with the model and never calls a dead one.
    flushTimer_ = new QTimer(this);
    flushTimer_->setInterval(std::chrono::seconds(1));
    connect(flushTimer_, &QTimer::timeout, this, &AppModel::flushPendingLog);
    flushTimer_->start();
}

void AppModel::updateSystemLowLoad() {
    const bool value = services_.systemLowLoad ? services_.systemLowLoad() : false;
    if (value == systemLowLoad_) return;
    systemLowLoad_ = value;
    emit systemLowLoadChanged();
}

void AppModel::clearLog() {
    log_.clear();
    pendingLog_.clear();
    emit logCleared();
}

}  // namespace tarvik
