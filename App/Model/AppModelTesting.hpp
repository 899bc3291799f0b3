#pragma once
// For the model's tests only: services that keep a model inside temporary XDG
// folders and off the desktop, and a way into the states that only a run
// reaches. Header-only, so that the model's library does not carry it.
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "App/Model/AppModel.hpp"
#include "App/Testing/AppTesting.hpp"

namespace tarvik {

struct AppModelTesting {
    // Settings in `xdg`, the older domain beside them, no volumes, no desktop,
    // and a desktop that asks for reduced motion only when `*lowLoad` says so.
    static AppModel::Services services(const testing::ScopedXdg& xdg,
                                       std::shared_ptr<bool> lowLoad = nullptr) {
        AppModel::Services services;
        services.settings = xdg.settings();
        services.legacySettings = [] { return Settings::legacy(); };
        services.systemLowLoad = [lowLoad] { return lowLoad && *lowLoad; };
        return services;
    }

    static void setState(AppModel& model, RunState state) { model.setState(std::move(state)); }
    static void setVolumes(AppModel& model, std::vector<Volume> volumes) {
        model.volumes_ = std::move(volumes);
    }
    // As a running export does while it writes these album folders.
    static void setWritingFolders(AppModel& model, std::set<std::string> folders) {
        model.writingFolders_ = std::move(folders);
        emit model.writingFoldersChanged();
    }
    static void clearLog(AppModel& model) { model.clearLog(); }
    static std::size_t pendingLines(const AppModel& model) { return model.pendingLog_.size(); }
    static bool flushTimerRuns(const AppModel& model) { return model.flushTimer_ != nullptr; }
};

}  // namespace tarvik
