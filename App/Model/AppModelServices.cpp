#include "App/Model/AppModel.hpp"

#include "Core/Convert/FFmpegLocator.hpp"

namespace tarvik {

AppModel::Services AppModel::Services::standard() {
    Services services;
    services.settings = Settings::standard();
    services.legacySettings = [] { return Settings::legacy(); };
    services.locateFFmpeg = [] { return FFmpegLocator::locate(); };
    services.systemLowLoad = [] { return false; };
    return services;
}

}  // namespace tarvik
