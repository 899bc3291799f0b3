#pragma once
// For the model's tests only: services that keep a model inside temporary XDG
// folders and off the desktop, a way into the states that only a run reaches,
// and the small fixtures several tests share. Header-only, so that the model's
// library does not carry it.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "App/Model/AppModel.hpp"
#include "App/Testing/AppTesting.hpp"
#include "App/Testing/FixtureVolumes.hpp"

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
    static bool flushTimerRuns(const AppModel& model) { return model.flushTimer_ != nullptr; }
};

namespace testing {

// Runs the event loop until every question the model asked of a file system
// has been answered (the volumes, the destination, the music folder's look).
inline bool settle(const AppModel& model,
                   std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    return waitUntil([&] { return !model.checkingFolders(); }, timeout);
}

// A model in temporary settings whose desktop's low-load wish the test sets
// and announces through `lowLoadChanged`.
struct LowLoadModel {
    ScopedXdg xdg;
    std::shared_ptr<bool> systemLowLoad = std::make_shared<bool>(false);
    std::function<void()> lowLoadChanged;
    AppModel model{withWatch(AppModelTesting::services(xdg, systemLowLoad))};

    AppModel::Services withWatch(AppModel::Services services) {
        services.watchSystemLowLoad = [this](std::function<void()> changed) {
            lowLoadChanged = std::move(changed);
        };
        return services;
    }
    // Appends `count` converted lines: prefix + 0, prefix + 1, …
    void append(int count, const std::string& prefix = "line ") {
        for (int i = 0; i < count; ++i)
            model.appendLog(LogLine::Kind::converted, prefix + std::to_string(i));
    }
};

// Settings in temporary folders beside Music/Artist A/Album X/01.flac and
// Music/Artist B/Album Y/01.mp3 (empty files).
struct SmallLibrary {
    ScopedXdg xdg;
    std::filesystem::path music = xdg.config().parent_path() / "Music";

    SmallLibrary() {
        writeFile(music / "Artist A" / "Album X" / "01.flac", "");
        writeFile(music / "Artist B" / "Album Y" / "01.mp3", "");
    }
    std::vector<std::string> storedSelection() const {
        return xdg.settings()->stringList("selected").value_or(std::vector<std::string>{"<none>"});
    }
};

// A model over fixture volumes (the root file system listed first) whose
// cards are real folders below a temporary "media" folder.
class VolumesTest : public ::testing::Test {
protected:
    VolumesTest() { volumes_->add({.path = "/", .name = "root", .rootFileSystem = true}); }

    // A model started with the settings and volumes the test prepared, once
    // it has looked at them.
    AppModel& start() {
        AppModel::Services services = AppModelTesting::services(xdg_);
        services.volumes = volumes_;
        model_ = std::make_unique<AppModel>(std::move(services));
        EXPECT_TRUE(settle(*model_));
        return *model_;
    }
    // Mounts, unmounts and the model's own questions, answered.
    void settled() { EXPECT_TRUE(settle(*model_)); }
    void setDest(const std::string& path) { xdg_.settings()->setString("destPath", path); }
    std::filesystem::path media(const std::string& name) const { return temp_ / "media" / name; }
    FixtureVolumes::Mounted card(const std::string& name) {
        std::filesystem::create_directories(media(name));
        return FixtureVolumes::card(media(name));
    }

    ScopedXdg xdg_;
    TempDir temp_;
    std::shared_ptr<FixtureVolumes> volumes_ = std::make_shared<FixtureVolumes>();
    std::unique_ptr<AppModel> model_;
};

}  // namespace testing
}  // namespace tarvik
