// Volumes and cards: the volume list and the destination kept valid against
// it, mount and unmount, the automatic cleaning of a fresh card, ejecting, and
// the next card of a carry-over export. Cleaning and ejecting wait on the card,
// so they run on workers and hand their results back to the GUI thread.
#include <QCoreApplication>
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

// Runs `apply` on the GUI thread, unless the model is gone by then. The call is
// posted to the application object, which outlives every model.
void onModel(const QPointer<AppModel>& model, std::function<void(AppModel&)> apply) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [model, apply = std::move(apply)] {
            if (model) apply(*model);
        },
        Qt::QueuedConnection);
}

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
    listVolumes();
    pickDestination();
}

void AppModel::listVolumes() {
    std::vector<VolumeService::Mounted> mounted;
    if (services_.volumes) mounted = services_.volumes->mounted();
    std::vector<Volume> list = volumeList(mounted);
    mounted_ = std::move(mounted);
    if (list != volumes_) {
        volumes_ = std::move(list);
        emit volumesChanged();
    }

    const std::string dest = destPath();
    if (!dest.empty() && destinationVolume() == nullptr) {
        std::error_code error;
        const bool exists = std::filesystem::exists(dest, error);
        const std::optional<std::string> lastVolume = services_.settings->string(destVolumeKey);
        if (!exists || (lastVolume && text::equivalent(*lastVolume, dest))) setDestPath("");
    }
    pickWaits_ = destPath().empty();
}

void AppModel::pickDestination() {
    if (pickWaits_ && musicLocation_.current(srcPath())) {
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
    if (!musicLocation_.current(srcPath())) return;
    pickDestination();
    for (const std::filesystem::path& volume : std::exchange(cleaningWaits_, {}))
        autoCleanIfNeeded(volume);
}

void AppModel::handleVolumeChange(const std::optional<std::filesystem::path>& mounted) {
    listVolumes();
    // The music folder is looked at anew before anything is decided: a volume
    // mounted now is judged by where the library lies after the mount.
    followMusicFolder();
    pickDestination();
    if (mounted) autoCleanIfNeeded(*mounted);
}

void AppModel::autoCleanIfNeeded(const std::filesystem::path& volume) {
    // The card question goes to the system last: it reads the mount table.
    AutoCleanFacts facts{.autoCleanSD = autoCleanSD(),
                         .busy = isBusy(),
                         .destPath = destPath(),
                         .sendingToCard = sendingToCard_,
                         .isCardVolume = true};
    if (!autoCleanAllowed(facts, volume) || !services_.volumes) return;
    // The drive that holds the library looks like a card; cleaning it would
    // rename the user's songs and folders without a way back. Whether it holds
    // the library is known once the music folder's watch looked after the mount.
    if (!musicLocation_.current(srcPath())) {
        if (std::find(cleaningWaits_.begin(), cleaningWaits_.end(), volume) == cleaningWaits_.end())
            cleaningWaits_.push_back(volume);
        return;
    }
    if (holdsMusicLibrary(volume)) return;
    if (!services_.volumes->isCardVolume(volume)) return;

    QPointer<AppModel> self(this);
    // No thread to be had: the card is not cleaned.
    tasks_.tryStart([self, volume](std::stop_token stop) {
        // A quit stops it between two renames; its notice is then never shown.
        const SDCardTools::CleanResult result = SDCardTools::clean(volume, stop);
        onModel(self, [result, name = volumeFolderName(volume)](AppModel& model) {
            if (auto notice = cleanNoticeText(name, result))
                model.setCleanNotice(std::move(notice));
        });
    });
}

void AppModel::ejectCard() {
    if (const Volume* volume = destinationVolume()) ejectVolume(volume->url);
}

bool AppModel::isCardVolume(const std::filesystem::path& volume) const {
    return services_.volumes && services_.volumes->isCardVolume(volume);
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
    QPointer<AppModel> self(this);
    const bool started =
        tasks_.tryStart([self, volume, service = services_.volumes](std::stop_token stop) {
            std::optional<std::string> failure = service->eject(volume, stop);
            onModel(self, [volume, failure = std::move(failure)](AppModel& model) {
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
