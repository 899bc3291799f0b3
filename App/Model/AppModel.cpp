#include "App/Model/AppModel.hpp"

#include "App/Model/SelectionKeys.hpp"

namespace tarvik {

namespace {

std::set<std::string> toSet(const std::optional<std::vector<std::string>>& list) {
    if (!list) return {};
    return {list->begin(), list->end()};
}

// The selection's keys from the texts the settings keep for them.
std::set<std::string> selectionFrom(const std::optional<std::vector<std::string>>& list) {
    std::set<std::string> keys;
    if (list)
        for (const std::string& text : *list) keys.insert(SelectionKeys::restored(text));
    return keys;
}

}  // namespace

AppModel::AppModel(Services services, QObject* parent)
    : QObject(parent), services_(std::move(services)) {
    Settings& settings = *services_.settings;
    carryOver_ = toSet(settings.stringList("carryOver"));
    continuing_ = settings.boolean("continuing").value_or(false);
    setSelected(selectionFrom(settings.stringList("selected")));
    importLegacySettings();
    updateSystemLowLoad();
    loadProfiles();
    // Both asked at once; the music folder is judged once both have answered,
    // as it is there only on the volume it was last seen on.
    volumeLooks_ = std::make_unique<VolumeLooks>(
        services_.volumes, this,
        [this](VolumeLooks::Answer answer) { volumesAnswered(std::move(answer)); });
    refreshVolumes();
    reloadArtists();
    connect(musicWatch_.get(), &FolderWatch::lookEnded, this, &AppModel::musicFolderLooked);
    // The watchers hold the model weakly and are never removed.
    QPointer<AppModel> self(this);
    if (services_.volumes) {
        services_.volumes->watch([self](std::optional<std::filesystem::path> mounted) {
            if (self) self->handleVolumeChange(mounted);
        });
    }
    if (services_.watchSystemLowLoad) {
        services_.watchSystemLowLoad([self] {
            if (self) self->updateSystemLowLoad();
        });
    }
}

AppModel::~AppModel() {
    // Whatever a worker still posts reaches nobody from here on.
    outlet_.close();
}

AppModel::Poster AppModel::poster() {
    return [outlet = outlet_, model = this](std::function<void(AppModel&)> apply) {
        outlet.post([model, apply = std::move(apply)] { apply(*model); });
    };
}

// Observable state -----------------------------------------------------------

void AppModel::setSelected(std::set<std::string> value) {
    selected_ = std::move(value);
    emit selectedChanged();
    persistSelected();
}

void AppModel::setSearch(const std::string& value) {
    if (search_ == value) return;
    search_ = value;
    emit searchChanged();
}

void AppModel::setShowLog(bool value) {
    if (showLog_ == value) return;
    showLog_ = value;
    emit showLogChanged();
}

void AppModel::setShowSend(bool value) {
    if (showSend_ == value) return;
    showSend_ = value;
    emit showSendChanged();
}

void AppModel::setShowAliases(bool value) {
    if (showAliases_ == value) return;
    showAliases_ = value;
    emit showAliasesChanged();
}

void AppModel::setCleanNotice(std::optional<std::string> value) {
    cleanNotice_ = std::move(value);
    emit cleanNoticeChanged();
}

void AppModel::setCarryOver(std::set<std::string> value) {
    carryOver_ = std::move(value);
    // A std::set iterates in ascending order: the stored list is sorted.
    services_.settings->setStringList("carryOver", {carryOver_.begin(), carryOver_.end()});
    emit carryOverChanged();
}

void AppModel::setContinuing(bool value) {
    continuing_ = value;
    services_.settings->setBoolean("continuing", value);
    emit continuingChanged();
}

void AppModel::setState(RunState value) {
    state_ = std::move(value);
    emit stateChanged();
}

void AppModel::setPhaseText(std::string value) {
    if (phaseText_ == value) return;
    phaseText_ = std::move(value);
    emit phaseTextChanged();
}

void AppModel::setSourceNotice(std::optional<std::string> value) {
    if (sourceNotice_ == value) return;
    sourceNotice_ = std::move(value);
    emit sourceNoticeChanged();
}

}  // namespace tarvik
