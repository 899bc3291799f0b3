#pragma once
// Test-only helpers of the export tests: a small real music library made by
// ffmpeg, a model wired to temporary settings, a recording desktop and the
// scripted converter, and a record of the states the model went through.
// Not part of the library.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "App/Model/AppModel.hpp"
#include "App/Testing/AppTesting.hpp"
#include "App/Testing/RecordingDesktopSignals.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/Platform/BoundedGroup.hpp"
#include "Core/Testing/Audio.hpp"

namespace tarvik::testing {

// Artist "Band" with the albums "A" and "B" of seven short tagged tones each:
// "A01.flac" … "A07.flac", "B01.flac" … "B07.flac".
inline void makeLibrary(const std::filesystem::path& root) {
    BoundedGroup<bool> makers(4);
    for (const std::string album : {"A", "B"}) {
        for (int track = 1; track <= 7; ++track) {
            const std::string name = album + "0" + std::to_string(track);
            makers.spawn([=](std::stop_token) {
                makeTone(root / "Band" / album / (name + ".flac"),
                         {.seconds = 0.2,
                          .metadata = {{"title", "Song " + name},
                                       {"artist", "Band"},
                                       {"album", album},
                                       {"track", std::to_string(track)}}});
                return true;
            });
        }
    }
    while (makers.next()) {
    }
}

class ExportTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        library_ = new TempDir();
        makeLibrary(library_->path());
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
        {
            auto settings = xdg.settings();
            settings->setString("srcPath", library().string());
            settings->setString("destPath", card.path().string());
            settings->setBoolean("lookup", false);
            settings->setBoolean("normalize", false);
        }
        AppModel::Services services;
        services.settings = xdg.settings();
        services.desktop = desktop;
        services.systemLowLoad = [] { return false; };
        services.locateFFmpeg = locateFFmpeg;
        services.convert = converter.function();
        if (adjust) adjust(services);
        auto model = std::make_unique<AppModel>(std::move(services));
        QObject::connect(model.get(), &AppModel::stateChanged, model.get(),
                         [this, model = model.get()] { states.push_back(model->state().kind); });
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
        return std::optional<std::filesystem::path>("/usr/bin/ffmpeg");
    };
    std::vector<RunState::Case> states;  // every state the model entered, in order

private:
    static inline TempDir* library_ = nullptr;
};

}  // namespace tarvik::testing
