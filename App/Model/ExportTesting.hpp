#pragma once
// Test-only helpers of the export tests: a small real music library made by
// ffmpeg, a model wired to temporary settings, a recording desktop and the
// scripted converter, and a record of the states the model went through.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "App/Model/AppModelTesting.hpp"
#include "App/Testing/MusicLibrary.hpp"
#include "App/Testing/RecordingDesktopSignals.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"

namespace tarvik::testing {

class ExportTest : public ::testing::Test {
protected:
    // Artist "Band" with the albums "A" and "B" of seven tagged tones each:
    // "01 Song A01.flac" … "07 Song B07.flac".
    static void SetUpTestSuite() {
        library_ = new TempDir();
        std::vector<LibraryTrack> tracks;
        for (const char* album : {"A", "B"})
            for (int n = 1; n <= 7; ++n)
                tracks.push_back(
                    {"Band", album, n, "Song " + std::string(album) + "0" + std::to_string(n)});
        makeMusicLibrary(library_->path(), tracks);
    }
    static void TearDownTestSuite() {
        delete library_;
        library_ = nullptr;
    }

    static std::filesystem::path library() { return library_->path(); }

    // A model over the library, writing into `card`, without title lookup or
    // loudness levelling, whose conversions are the scripted converter's;
    // `adjust` may change the services before the model takes them.
    std::unique_ptr<AppModel> makeModel(
        const std::function<void(AppModel::Services&)>& adjust = {}) {
        xdg.settings()->setString("srcPath", library().string());
        xdg.settings()->setString("destPath", card.path().string());
        for (const char* key : {"lookup", "normalize"}) xdg.settings()->setBoolean(key, false);
        AppModel::Services services = AppModelTesting::services(xdg);
        services.desktop = desktop;
        services.locateFFmpeg = locateFFmpeg;
        services.convert = converter.function();
        if (adjust) adjust(services);
        auto model = std::make_unique<AppModel>(std::move(services));
        QObject::connect(model.get(), &AppModel::stateChanged, model.get(),
                         [this, model = model.get()] { states.push_back(model->state().kind); });
        EXPECT_TRUE(settle(*model));
        return model;
    }

    bool waitForState(const AppModel& model, RunState::Case state,
                      std::chrono::milliseconds timeout = std::chrono::seconds(60)) {
        return waitUntil([&] { return model.state().is(state); }, timeout);
    }

    // Plans with the review and waits for it.
    void planToReview(AppModel& model) {
        model.startPlanning();
        ASSERT_TRUE(waitForState(model, RunState::Case::reviewing)) << model.state().message;
    }

    // Plans, runs and waits for the end of the run.
    void runToFinish(AppModel& model) {
        planToReview(model);
        model.startConversion();
        ASSERT_TRUE(waitForState(model, RunState::Case::finished)) << model.state().message;
        // The volumes and the music folder, read anew at the end, have answered.
        EXPECT_TRUE(settle(model));
    }

    static std::vector<std::string> logTexts(const AppModel& model) {
        std::vector<std::string> texts;
        for (const LogLine& line : model.log()) texts.push_back(line.text);
        return texts;
    }

    ScopedXdg xdg;
    TempDir card;
    std::shared_ptr<RecordingDesktopSignals> desktop = std::make_shared<RecordingDesktopSignals>();
    ScriptedConverter converter;
    std::function<std::optional<std::filesystem::path>()> locateFFmpeg = [] {
        return std::filesystem::path("/usr/bin/ffmpeg");
    };
    std::vector<RunState::Case> states;  // every state the model entered, in order

private:
    static inline TempDir* library_ = nullptr;
};

}  // namespace tarvik::testing
