#include "App/Model/AppModel.hpp"
#include "App/Platform/FreedesktopSignals.hpp"
#include "App/Platform/LinuxVolumes.hpp"
#include "App/Platform/ReducedMotion.hpp"
#include "Core/Convert/FFmpegLocator.hpp"

namespace tarvik {

AppModel::Services AppModel::Services::standard() {
    Services services;
    services.settings = Settings::standard();
    services.legacySettings = [] { return Settings::legacy(); };
    services.volumes = std::make_shared<LinuxVolumes>();
    services.locateFFmpeg = [] { return FFmpegLocator::locate(); };
    auto motion = std::make_shared<ReducedMotion>();
    services.systemLowLoad = [motion] { return motion->requested(); };
    services.watchSystemLowLoad = [motion](std::function<void()> changed) {
        motion->watch(std::move(changed));
    };
    // The widget layer puts its own in with the window's attention request.
    services.desktop = FreedesktopSignals::standard({});
    return services;
}

}  // namespace tarvik
