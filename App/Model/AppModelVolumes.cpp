#include "App/Model/AppModel.hpp"

namespace tarvik {

void AppModel::refreshVolumes() {}
void AppModel::handleVolumeChange(const std::optional<std::filesystem::path>&) {}
void AppModel::autoCleanIfNeeded(const std::filesystem::path&) {}
void AppModel::ejectCard() {}
void AppModel::ejectVolume(const std::filesystem::path&) {}
void AppModel::continueOnNextCard() {}
const Volume* AppModel::destinationVolume() const {
    const std::string dest = destPath();
    for (const Volume& volume : volumes_)
        if (volume.url.string() == dest) return &volume;
    return nullptr;
}

}  // namespace tarvik
