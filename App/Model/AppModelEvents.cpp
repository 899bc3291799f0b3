// Export control, applying what the runner reports: each event of a planning
// pass or run, the per-folder bookkeeping that frees finished folders for the
// send window, and the finish steps of a run with the carry-over and the
// desktop's end-of-run signals. GUI thread only; events arrive in order
// through the model's EventPump.
#include "App/Model/AppModel.hpp"
#include "App/Model/ExportTexts.hpp"

namespace tarvik {

void AppModel::handleEvent(const ConversionEvent& event) {
    using E = ConversionEvent;
    if (const auto* phase = event.as<E::Phase>()) {
        // Once the user stopped the pass, its line says so to the end, also
        // for phases that were already on their way.
        const bool stopping = (cancelTask_ && cancelTask_->isCancelled()) ||
                              (handle_ && handle_->task->isCancelled());
        if (!stopping) setPhaseText(ExportTexts::phaseText(*phase));
        return;
    }
    if (const auto* progress = event.as<E::Progress>()) {
        progress_ = *progress;
        emit progressChanged();
        return;
    }
    if (const auto* summary = event.as<E::Summary>()) {
        finishRun(*summary);
        return;
    }
    if (const auto* renamed = event.trackAs<E::Track::Renamed>()) {
        renamed_.emplace_back(renamed->oldMeta, renamed->newMeta);
        emit renamedChanged();
    }
    if (const std::optional<ExportTexts::Line> line = ExportTexts::logLine(event)) {
        appendLog(line->kind, line->text);
    }
    if (const auto* converted = event.trackAs<E::Track::Converted>()) {
        folderDone(ExportTexts::folderKey(converted->path));
    } else if (const auto* skipped = event.trackAs<E::Track::Skipped>()) {
        folderDone(ExportTexts::folderKey(skipped->path));
    } else if (const auto* failed = event.trackAs<E::Track::Failed>()) {
        if (const auto folder = folderBySource_.find(failed->source);
            folder != folderBySource_.end()) {
            // Copied: folderDone may drop the entry the key lives in.
            folderDone(std::string(folder->second));
        }
    }
}

void AppModel::folderDone(const std::string& folder) {
    const auto remaining = remainingByFolder_.find(folder);
    if (remaining == remainingByFolder_.end()) {
        // The album went elsewhere than planned (a numbered folder, or where
        // the card already held it): that folder stays busy to the run's end.
        if (writingFolders_.insert(folder).second) emit writingFoldersChanged();
        return;
    }
    if (remaining->second < 2) {
        remainingByFolder_.erase(remaining);
        writingFolders_.erase(folder);
        emit writingFoldersChanged();
    } else {
        --remaining->second;
    }
}

void AppModel::finishRun(ConversionEvent::Summary summary) {
    remainingByFolder_.clear();
    folderBySource_.clear();
    writingFolders_.clear();
    emit writingFoldersChanged();
    flushPendingLog();
    activity_.reset();
    handle_.reset();
    progress_ = summary.progress;
    emit progressChanged();

    if (const auto after = ExportTexts::carryOverAfter(summary, {carryOver_, continuing_})) {
        // Unchanged values are not written again: a settings write waits for the disk.
        if (after->paths != carryOver_) setCarryOver(after->paths);
        if (after->continuing != continuing_) setContinuing(after->continuing);
    }
    summary.renamed = static_cast<std::int64_t>(renamed_.size());
    setState(RunState::finished(summary, runToCard_));
    setPhaseText("");
    // The run used the card's space, or lost the card or the music folder:
    // whatever the steps show of them is read anew.
    refreshVolumes();
    followMusicFolder();

    if (uiTesting() || !services_.desktop) return;
    DesktopSignals& desktop = *services_.desktop;
    desktop.playSound(summary.progress.failed > 0 ? DesktopSignals::Sound::error
                                                  : DesktopSignals::Sound::complete);
    desktop.requestAttention();
    const ExportTexts::Notification notification = ExportTexts::finishNotification(summary);
    desktop.notify(notification.title, notification.body);
}

}  // namespace tarvik
