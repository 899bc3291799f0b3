// The send window's copy onto the card: starting it, its progress, "中止" and
// its end; folders dropped on the window; the pages' way back; ejecting the
// card. The copy runs on a worker; everything it reports is applied on the GUI
// thread. At most one copy runs per window.
#include <exception>
#include <system_error>
#include <utility>

#include "App/Model/AppModel.hpp"
#include "App/Windows/SendToSDState.hpp"
#include "App/Windows/SendToSDWorkers.hpp"

namespace tarvik {

void SendToSDState::send(const std::vector<Album>& albums) {
    // Two quick drops must not start two copies onto one card, nor one a
    // card that is being ejected.
    if (sending() || ejecting()) return;
    const std::optional<Volume> card = selectedCard();
    if (!card) return;
    std::int64_t total = 0;
    for (const Album& album : albums) total += static_cast<std::int64_t>(album.files.size());
    phase_ = SendContent::Sending{.done = 0, .total = total, .name = ""};
    ejectError_.reset();
    model_.setSendingToCard(true, card->url);

    QPointer<SendToSDState> self(this);
    auto work = [self, albums, root = card->url, copy = tools_.send](std::stop_token stop) {
        // The last count told: a stop that left files unsent ends on the stopped page.
        std::int64_t done = 0;
        std::int64_t all = 0;
        const SDCardTools::SendProgress progress = [&](std::int64_t d, std::int64_t t,
                                                       const std::string& name) {
            done = d;
            all = t;
            onState(self, [sending = SendContent::Sending{d, t, name}](SendToSDState& state) {
                state.showProgress(sending);
            });
        };
        try {
            SDCardTools::SendResult result = copy(albums, root, progress, stop);
            const bool stopped = stop.stop_requested() && done < all;
            onState(self, [finished = SendContent::Finished{std::move(result), stopped}](
                              SendToSDState& state) { state.endSend(finished); });
        } catch (const std::exception& error) {
            onState(self, [failed = SendContent::Failed{error.what()}](SendToSDState& state) {
                state.endSend(failed);
            });
        }
    };
    try {
        workers_->copy = workers_->tasks.start(std::move(work));
    } catch (const std::system_error& error) {
        endSend(SendContent::Failed{error.what()});
        return;
    }
    emit changed();
}

void SendToSDState::showProgress(SendContent::Sending progress) {
    // A report that arrives after the result has nothing left to show.
    if (!sending()) return;
    phase_ = std::move(progress);
    emit changed();
}

void SendToSDState::endSend(SendContent::Phase phase) {
    phase_ = std::move(phase);
    model_.setSendingToCard(false);
    emit changed();
    // Also a failed send may have written, or lost its card.
    model_.refreshVolumes();
}

void SendToSDState::cancelSend() {
    if (sending() && workers_->copy) workers_->copy->cancel();
}

bool SendToSDState::handleDrop(const std::vector<std::filesystem::path>& paths) {
    // Folders dropped while the last drop is still being looked through would
    // only be refused once that one's copy starts; the card being ejected
    // takes nothing more.
    if (sending() || ejecting() || workers_->scanningDrop) return false;
    std::vector<std::string> dropped;
    for (const std::filesystem::path& path : paths) dropped.push_back(path.native());
    const SendContent::DropCheck check =
        SendContent::checkDrop(dropped, selectedCard(), model_.srcPath());
    if (check.refusal) {
        phase_ = SendContent::Failed{*check.refusal};
        emit changed();
        return true;
    }
    if (check.candidates.empty()) return true;  // only folders of the card itself

    std::vector<std::filesystem::path> folders(check.candidates.begin(), check.candidates.end());
    QPointer<SendToSDState> self(this);
    workers_->scanningDrop =
        workers_->tasks.tryStart([self, folders = std::move(folders),
                                  scan = tools_.exportedAlbums](std::stop_token stop) {
            std::vector<Album> albums = scan(folders, stop);
            if (stop.stop_requested()) return;
            onState(self, [albums = std::move(albums)](SendToSDState& state) {
                state.workers_->scanningDrop = false;
                if (!albums.empty()) return state.send(albums);
                state.phase_ = SendContent::Failed{SendContent::noAlbumInDrop};
                emit state.changed();
            });
        }) != nullptr;
    return true;
}

void SendToSDState::backToChoosing() {
    if (sending()) return;
    phase_ = SendContent::Choosing{};
    emit changed();
}

void SendToSDState::continueChoosing() {
    if (sending() || ejecting()) return;
    phase_ = SendContent::Choosing{};
    picked_.clear();
    ejectError_.reset();
    refreshOnCard();
    emit changed();
}

void SendToSDState::ejectCardAndClose() {
    const std::optional<Volume> card = selectedCard();
    if (sending() || ejecting() || workers_->scanningDrop || !card) return;
    ejecting_ = true;
    ejectError_.reset();
    emit changed();
    QPointer<SendToSDState> self(this);
    // A card pulled while still in use may lose its file system: the window
    // stays open with the reason until the card is really out.
    model_.ejectVolume(card->url, [self](const std::optional<std::string>& failure) {
        if (!self) return;
        self->ejecting_ = false;
        if (failure) self->ejectError_ = failure;
        emit self->changed();
        if (!failure) emit self->closeRequested();
    });
}

}  // namespace tarvik
