// The folders' checks that the window and the start wait for, never on: the
// music folder and the destination asked about anew, the start that goes on
// once they answered, a run whose music folder stops answering, which ends
// as one whose folder went, and the folder a chooser opens in. GUI thread
// only.
#include "App/Model/AppModel.hpp"
#include "App/Model/ExportTexts.hpp"
#include "App/Platform/AppPaths.hpp"

namespace tarvik {

void AppModel::recheckFolders() {
    followMusicFolder();
    askVolumes();
}

void AppModel::startWhenChecked(bool anyway) {
    if (isBusy() || startWaits_) return;
    startWaits_ = true;
    startAnyway_ = anyway;
    recheckFolders();
    proceedIfChecked();
}

bool AppModel::musicFolderDecided() const {
    return musicLocation_.current(srcPath()) || musicWatch_->notAnswering();
}

bool AppModel::checkingFolders() const {
    return choosing_ || startWaits_ || adoptingLegacy_ || !volumeLooks_->current() ||
           !musicFolderDecided();
}

bool AppModel::destinationAwaited() const {
    const std::string dest = destPath();
    return !dest.empty() && destination_.path == dest && !destination_.answered;
}

void AppModel::proceedIfChecked() {
    // A destination slower than its check's deadline answers late: the start
    // waits for that answer where it is all the start lacks, or no run could
    // ever start there.
    const bool awaited = !startAnyway_ && destinationAwaited() && hasSelection();
    if (!startWaits_ || choosing_ || !volumeLooks_->current() || !musicFolderDecided() || awaited) {
        emit checkingChanged();
        return;
    }
    startWaits_ = false;
    emit checkingChanged();
    if (startAnyway_ || canExport()) startPlanning();
}

void AppModel::whereToChoose(const std::filesystem::path& wanted, ChooserStarts::Open open) {
    chooserStarts_.ask(wanted, std::move(open));
}

std::filesystem::path AppModel::mediaFolder() const {
    return services_.mediaFolder ? services_.mediaFolder() : AppPaths::mediaFolder();
}

void AppModel::haltForUnansweredMusicFolder() {
    const bool planning = state_.is(RunState::Case::planning);
    if (!planning && !state_.is(RunState::Case::running)) return;
    // The pass's threads may be held by the folder's file system for as long
    // as it does not answer: they are stopped, and left to end by themselves
    // once it does; whatever they still report belongs to nobody.
    if (cancelTask_) cancelTask_->cancel();
    if (handle_) handle_->cancel();
    events_.beginPass();
    const std::string lost(ConversionRunner::musicFolderLostMessage);
    if (planning) {
        cancelTask_.reset();
        setState(RunState::failed(lost));
        return;
    }
    // As the run itself ends when its folder goes: one failed line for the
    // folder, counted as a failure, and a stopped run that keeps the
    // carry-over. Every song it told of is whole on the card.
    handleEvent(ConversionEvent::failed(srcPath(), lost));
    ConversionEvent::Summary summary{.progress = progress_,
                                     .stopped = true,
                                     .cardFull = false,
                                     .renamed = 0,
                                     .placed = {},
                                     .halt = ConversionEvent::Halt::musicFolderLost};
    ++summary.progress.failed;
    finishRun(std::move(summary));
}

}  // namespace tarvik
