#include "App/Model/AppModel.hpp"

#include "App/Platform/LinuxVolumes.hpp"
#include "Core/Convert/FFmpegLocator.hpp"

namespace tarvik {

AppModel::Services AppModel::Services::standard() {
    Services services;
    services.settings = Settings::standard();
    services.legacySettings = [] { return Settings::legacy(); };
    services.volumes = std::make_shared<LinuxVolumes>();
    services.locateFFmpeg = [] { return FFmpegLocator::locate(); };
    services.systemLowLoad = [] { return false; };
    return services;
}

}  // namespace tarvik
