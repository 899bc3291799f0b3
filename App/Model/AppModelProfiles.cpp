// The device profiles: the delivered and the user's, listed once per id, the
// user's saved and deleted, and the selected one. A run's failure belongs to
// the profile it was made with: mending that profile or choosing another
// clears it, so the export step never shows a refusal that no longer holds.
#include <algorithm>
#include <cctype>
#include <system_error>

#include "App/Model/AppModel.hpp"
#include "App/Platform/AppPaths.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/Uuid.hpp"
#include "Core/Profiles/ProfileStore.hpp"

namespace tarvik {

namespace {

std::string newCustomId() {
    std::string id = "custom-" + makeUuid().substr(0, 8);
    std::transform(id.begin(), id.end(), id.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return id;
}

std::string setAsideText(const ProfileStore::SetAside& aside) {
    return "同じ ID「" + aside.id + "」の機種の設定が 2 つあります。「" + aside.listed.string() +
           "」を使い、「" + aside.file.string() + "」は使っていません（ファイルはそのままです）。";
}

}  // namespace

const DeviceProfile* AppModel::selectedProfile() const {
    const std::string id = profileId();
    for (const DeviceProfile& profile : profiles_)
        if (profile.id == id) return &profile;
    return nullptr;
}

std::optional<DeviceProfile> AppModel::selectedProfileValue() const {
    const DeviceProfile* profile = selectedProfile();
    return profile ? std::optional<DeviceProfile>(*profile) : std::nullopt;
}

void AppModel::forgetFailureUnless(const std::optional<DeviceProfile>& before) {
    if (state_.is(RunState::Case::failed) && selectedProfileValue() != before)
        setState(RunState::idle());
}

void AppModel::loadProfiles() {
    const std::optional<DeviceProfile> before = selectedProfileValue();
    std::optional<std::filesystem::path> builtin;
    if (const auto resources = AppPaths::resourcesDirectory()) builtin = *resources / "profiles";
    ProfileStore::Listing listing = ProfileStore::list(builtin, AppPaths::profilesDirectory());
    profiles_ = std::move(listing.profiles);
    emit profilesChanged();
    // Told once a session: the list is loaded again after every save.
    for (const ProfileStore::SetAside& aside : listing.setAside)
        if (reportedSetAside_.insert(aside.file).second)
            appendLog(LogLine::Kind::notice, setAsideText(aside));
    if (!profiles_.empty() && selectedProfile() == nullptr) setProfileId(profiles_.front().id);
    forgetFailureUnless(before);
}

void AppModel::saveProfile(const DeviceProfile& profile) {
    DeviceProfile copy = profile;
    copy.isBuiltin = false;
    const bool takenByBuiltin = std::any_of(profiles_.begin(), profiles_.end(), [&](const auto& p) {
        return p.isBuiltin && p.id == copy.id;
    });
    // The editor has no id field: an id that can't name a file (an older
    // file's) is renewed like a missing one, or the profile could never be saved.
    if (text::trim(copy.id).empty() || takenByBuiltin || !ProfileStore::usableAsFileName(copy.id))
        copy.id = newCustomId();
    ProfileStore::save(copy, AppPaths::profilesDirectory());
    loadProfiles();
    setProfileId(copy.id);
}

void AppModel::deleteProfile(const DeviceProfile& profile) {
    if (profile.isBuiltin || !profile.fileURL) return;
    std::error_code ignored;
    std::filesystem::remove(*profile.fileURL, ignored);
    loadProfiles();
}

}  // namespace tarvik
