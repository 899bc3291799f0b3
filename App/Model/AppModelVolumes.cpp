#include "App/Model/AppModel.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik {

void AppModel::refreshVolumes() {}
void AppModel::handleVolumeChange(const std::optional<std::filesystem::path>&) {}
void AppModel::autoCleanIfNeeded(const std::filesystem::path&) {}
void AppModel::ejectCard() {}
void AppModel::ejectVolume(const std::filesystem::path&) {}
void AppModel::continueOnNextCard() {}
const Volume* AppModel::destinationVolume() const {
    const std::string dest = destPath();
    if (dest.empty()) return nullptr;
    for (const Volume& volume : volumes_)
        if (text::equivalent(volume.url.native(), dest)) return &volume;
    return nullptr;
}

}  // namespace tarvik
