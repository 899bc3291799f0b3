// Settings: each is read from and written through `Settings` at once and
// announced by its signal; the older domain's values are taken over once.
#include "App/Model/AppModel.hpp"

namespace tarvik {

std::string AppModel::srcPath() const {
    return services_.settings->string("srcPath").value_or("");
}
void AppModel::setSrcPath(const std::string& value) {
    services_.settings->setString("srcPath", value);
    emit srcPathChanged();
    // Its watch follows it from now on; its artists come with its first look.
    reloadArtists();
}

std::string AppModel::destPath() const {
    return services_.settings->string("destPath").value_or("");
}
void AppModel::setDestPath(const std::string& value) {
    services_.settings->setString("destPath", value);
    emit destPathChanged();
    // Whether a run may write there is asked of its file system on a worker.
    if (!value.empty() && volumeLooks_) askVolumes();
}

std::string AppModel::profileId() const {
    return services_.settings->string("profileId").value_or(defaultProfileId);
}
void AppModel::setProfileId(const std::string& value) {
    const std::optional<DeviceProfile> before = selectedProfileValue();
    services_.settings->setString("profileId", value);
    emit profileIdChanged();
    forgetFailureUnless(before);
}

bool AppModel::lookup() const {
    return services_.settings->boolean("lookup").value_or(true);
}
void AppModel::setLookup(bool value) {
    services_.settings->setBoolean("lookup", value);
    emit settingsChanged();
}

bool AppModel::normalize() const {
    return services_.settings->boolean("normalize").value_or(true);
}
void AppModel::setNormalize(bool value) {
    services_.settings->setBoolean("normalize", value);
    emit settingsChanged();
}

double AppModel::loudness() const {
    return services_.settings->number("loudness").value_or(-14.0);
}
void AppModel::setLoudness(double value) {
    services_.settings->setNumber("loudness", value);
    emit settingsChanged();
}

bool AppModel::lowLoadManual() const {
    return services_.settings->boolean("lowLoadManual").value_or(false);
}
void AppModel::setLowLoadManual(bool value) {
    services_.settings->setBoolean("lowLoadManual", value);
    emit settingsChanged();
}

bool AppModel::onboarded() const {
    return services_.settings->boolean("onboarded").value_or(false);
}
void AppModel::setOnboarded(bool value) {
    services_.settings->setBoolean("onboarded", value);
    emit settingsChanged();
}

bool AppModel::skipReview() const {
    return services_.settings->boolean("skipReview").value_or(false);
}
void AppModel::setSkipReview(bool value) {
    services_.settings->setBoolean("skipReview", value);
    emit settingsChanged();
}

bool AppModel::autoCleanSD() const {
    return services_.settings->boolean("autoCleanSD").value_or(false);
}
void AppModel::setAutoCleanSD(bool value) {
    services_.settings->setBoolean("autoCleanSD", value);
    emit settingsChanged();
}

std::string AppModel::lastExportPath() const {
    return services_.settings->string("lastExportPath").value_or("");
}
void AppModel::setLastExportPath(const std::string& value) {
    services_.settings->setString("lastExportPath", value);
    emit settingsChanged();
}

std::string AppModel::sendSource() const {
    return services_.settings->string("sendSource").value_or("");
}
void AppModel::setSendSource(const std::string& value) {
    services_.settings->setString("sendSource", value);
    emit settingsChanged();
}

std::optional<std::string> AppModel::appearance() const {
    return services_.settings->string("appearance");
}
bool AppModel::autoReview() const {
    return services_.settings->boolean("autoReview").value_or(false);
}
bool AppModel::autoSend() const {
    return services_.settings->boolean("autoSend").value_or(false);
}
bool AppModel::uiTesting() const {
    return services_.settings->boolean("uiTesting").value_or(false);
}

// The older domain ---------------------------------------------------------

void AppModel::importLegacySettings() {
    Settings& settings = *services_.settings;
    if (settings.boolean("importedV2").value_or(false) || uiTesting()) return;
    std::unique_ptr<Settings> legacy =
        services_.legacySettings ? services_.legacySettings() : nullptr;
    if (!legacy) return;

    if (srcPath().empty()) {
        if (const auto old = legacy->string("srcPath"); old && !old->empty())
            adoptLegacySource(*old);
    }
    if (selected_.empty()) {
        if (const auto old = legacy->stringList("selected"))
            setSelected({old->begin(), old->end()});
    }
    if (const auto old = legacy->boolean("lookup")) setLookup(*old);
    if (const auto old = legacy->boolean("normalize")) setNormalize(*old);
    if (const auto old = legacy->number("loudness")) setLoudness(*old);
    if (const auto old = legacy->string("profileId"); old && !old->empty()) setProfileId(*old);
    settings.setBoolean("importedV2", true);
}

}  // namespace tarvik
