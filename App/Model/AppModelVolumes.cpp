// Volumes and cards: the volume list and the destination kept valid against
// it, mount and unmount, the automatic cleaning of a fresh card, ejecting, and
// the next card of a carry-over export. Listing, cleaning and ejecting wait on
// the cards, so they run on workers and hand their results back to the GUI
// thread.
#include <algorithm>
#include <utility>

#include "App/Model/AppModel.hpp"
#include "App/Model/VolumeList.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/SDCard/CardCleaning.hpp"

namespace tarvik {
namespace {

// The destination that was last seen as a listed volume's root. Linux keeps a
// static mount folder (/mnt/sd) after its card is gone; a destination equal to
// this path that is no longer listed counts as vanished, so that an export never
// lands in the empty folder on the system disk. Kept across starts, so a card
// pulled while the program was closed counts too.
constexpr const char* destVolumeKey = "destVolumePath";

// Why an eject did not begin, in the eject failure's parentheses.
constexpr const char* ejectRefusedWhileSending = "SD カードへ送っている最中です";
constexpr const char* ejectWithoutService = "取り出す仕組みが使えません";
constexpr const char* ejectWithoutThread = "取り出しを始められません";

}  // namespace

void AppModel::setEjectError(std::optional<std::string> value) {
    if (ejectError_ == value) return;
    ejectError_ = std::move(value);
    emit ejectErrorChanged();
}

const Volume* AppModel::destinationVolume() const {
    const std::string dest = destPath();
    if (dest.empty()) return nullptr;
    for (const Volume& volume : volumes_)
        if (text::equivalent(volume.url.native(), dest)) return &volume;
    return nullptr;
}

void AppModel::refreshVolumes() {
    refreshAsked_ = true;
    askVolumes();
}

void AppModel::askVolumes() {
    volumeLooks_->ask(destPath());
    emit checkingChanged();
}

void AppModel::volumesAnswered(VolumeLooks::Answer answer) {
    std::vector<Volume> list = volumeList(answer.mounted);
    mounted_ = std::move(answer.mounted);
    volumesListed_ = true;
    if (list != volumes_) {
        volumes_ = std::move(list);
        emit volumesChanged();
    }
    const std::string dest = destPath();
    if (answer.destination.path == dest && answer.destination != destination_) {
        destination_ = std::move(answer.destination);
        emit destinationChecked();
    }
    // A refresh keeps the destination valid: one that is not listed is
    // cleared when nothing is there, or when it is the folder a card was last
    // seen mounted at; never on the word of a file system that did not answer.
    if (refreshAsked_ && volumeLooks_->current()) {
        refreshAsked_ = false;
        if (!dest.empty() && destinationVolume() == nullptr && destination_.path == dest &&
            destination_.answered) {
            const std::optional<std::string> lastVolume = services_.settings->string(destVolumeKey);
            if (!destination_.exists || (lastVolume && text::equivalent(*lastVolume, dest)))
                setDestPath("");
        }
        if (destPath().empty()) pickWaits_ = true;
    }
    emit checkingChanged();
    // The music folder is there only on the volume it was last seen on.
    showArtists();
    decideWaiting();
    proceedIfChecked();
}

void AppModel::pickDestination() {
    if (pickWaits_) {
        pickWaits_ = false;
        // The music drive is no card: it is never taken without the user.
        const Volume* single = nullptr;
        int removable = 0;
        for (const Volume& volume : volumes_) {
            if (!volume.removable || holdsMusicLibrary(volume.url)) continue;
            ++removable;
            single = &volume;
        }
        if (removable == 1 && destPath().empty()) setDestPath(single->url.native());
    }
    if (const Volume* volume = destinationVolume()) {
        if (services_.settings->string(destVolumeKey) != volume->url.native()) {
            services_.settings->setString(destVolumeKey, volume->url.native());
        }
    }
}

void AppModel::decideWaiting() {
    // A fresh mount is decided on by the volumes and the music folder's
    // places as they stand after it (an artist linked onto the new volume);
    // a music folder whose file system does not answer is taken as it last
    // stood, so that a card beside it is still chosen and cleaned.
    if (!volumeLooks_->current() || !musicFolderDecided()) return;
    pickDestination();
    for (const std::filesystem::path& volume : std::exchange(cleaningWaits_, {}))
        autoCleanIfNeeded(volume);
}

void AppModel::handleVolumeChange(const std::optional<std::filesystem::path>& mounted) {
    if (mounted &&
        std::find(cleaningWaits_.begin(), cleaningWaits_.end(), *mounted) == cleaningWaits_.end())
        cleaningWaits_.push_back(*mounted);
    // Both looked at anew before anything is decided: a volume mounted now
    // is judged by where the library lies after the mount.
    refreshVolumes();
    followMusicFolder();
}

void AppModel::autoCleanIfNeeded(const std::filesystem::path& volume) {
    AutoCleanFacts facts{.autoCleanSD = autoCleanSD(),
                         .busy = isBusy(),
                         .destPath = destPath(),
                         .sendingToCard = sendingToCard_,
                         .isCardVolume = true};
    if (!autoCleanAllowed(facts, volume) || !services_.volumes) return;
    // The drive that holds the library looks like a card; cleaning it would
    // rename the user's songs and folders without a way back. Whether it holds
    // the library is known once the volumes are listed and the music folder's
    // watch looked after the mount.
    if (!volumeLooks_->current() || !musicFolderDecided()) {
        if (std::find(cleaningWaits_.begin(), cleaningWaits_.end(), volume) == cleaningWaits_.end())
            cleaningWaits_.push_back(volume);
        return;
    }
    if (holdsMusicLibrary(volume) || !isCardVolume(volume)) return;

    // No thread to be had: the card is not cleaned.
    tasks_.tryStart([poster = poster(), volume](std::stop_token stop) {
        // A quit stops it between two renames; its notice is then never shown.
        const SDCardTools::CleanResult result = SDCardTools::clean(volume, {}, stop);
        poster([result, name = volumeFolderName(volume)](AppModel& model) {
            if (auto notice = cleanNoticeText(name, result))
                model.setCleanNotice(std::move(notice));
        });
    });
}

void AppModel::ejectCard() {
    if (const Volume* volume = destinationVolume()) ejectVolume(volume->url);
}

bool AppModel::isCardVolume(const std::filesystem::path& volume) const {
    // As the last listing read it: the GUI thread asks no card itself.
    return std::any_of(mounted_.begin(), mounted_.end(), [&](const VolumeService::Mounted& m) {
        return m.card && text::equivalent(m.path.native(), volume.native());
    });
}

bool AppModel::holdsMusicLibrary(const std::filesystem::path& volume) const {
    VolumeService::Mounted facts{.path = volume};
    for (const VolumeService::Mounted& listed : mounted_) {
        if (text::equivalent(listed.path.native(), volume.native())) {
            facts = listed;
            break;
        }
    }
    return musicLocation_.holds(facts, srcPath());
}

bool AppModel::isEjecting(const std::filesystem::path& volume) const {
    for (const auto& [path, waiting] : ejecting_)
        if (text::equivalent(path.native(), volume.native())) return true;
    return false;
}

void AppModel::ejectVolume(const std::filesystem::path& volume, EjectDone done) {
    // Whoever asked always hears an end, also of an eject that never began.
    const auto refuse = [&](const char* reason) {
        std::string text = ejectFailureText(volumeFolderName(volume), reason);
        if (done)
            done(text);
        else
            setEjectError(std::move(text));
    };
    // Unmounting under a copy would cut files in half.
    if (sendingToCard_ &&
        (sendingCard_.empty() || text::equivalent(sendingCard_.native(), volume.native())))
        return refuse(ejectRefusedWhileSending);
    if (!services_.volumes) return refuse(ejectWithoutService);
    if (const auto running = ejecting_.find(volume); running != ejecting_.end()) {
        // One eject per volume at a time; a second asker hears how the first one ends.
        running->second.push_back(std::move(done));
        return;
    }
    ejecting_[volume].push_back(std::move(done));
    // The ejecter, not the service: an eject held by the system past the
    // model's going must not be the last owner of the service's watcher, a
    // QObject of the GUI thread.
    VolumeService::Ejecter eject = services_.volumes->ejecter();
    const bool started = tasks_.tryStart([poster = poster(), volume,
                                          eject = std::move(eject)](std::stop_token stop) {
        std::optional<std::string> failure = eject(volume, stop);
        poster([volume, failure = std::move(failure)](AppModel& model) {
            std::vector<EjectDone> waiting = std::move(model.ejecting_[volume]);
            model.ejecting_.erase(volume);
            emit model.ejectingChanged();
            std::erase_if(waiting, [](const EjectDone& tell) { return !tell; });
            std::optional<std::string> text;
            if (failure) {
                // A card pulled while still in use may lose its file system:
                // it stays the destination until it is really out.
                text = ejectFailureText(volumeFolderName(volume), *failure);
                if (waiting.empty()) model.setEjectError(text);
            } else if (text::equivalent(model.destPath(), volume.native())) {
                model.setDestPath("");
            }
            model.refreshVolumes();
            for (const EjectDone& tell : waiting) tell(text);
        });
    }) != nullptr;
    if (!started) {
        done = std::move(ejecting_[volume].front());
        ejecting_.erase(volume);
        return refuse(ejectWithoutThread);
    }
    emit ejectingChanged();
}

void AppModel::continueOnNextCard() {
    setContinuing(true);
    resetRun();
    if (destinationVolume() != nullptr)
        ejectCard();
    else
        setDestPath("");
}

}  // namespace tarvik
