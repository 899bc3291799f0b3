#pragma once
// For the sheets' tests and their screenshot program only: the alias sheet on
// a library of given artists, the profile editor on a model with private
// settings, and the review sheet on a real plan. Header-only and on the test
// thread; a fixture that cannot reach its state fails the test.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "App/Testing/MusicLibrary.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "App/Windows/ArtistAliasesView.hpp"
#include "App/Windows/ProfileEditorView.hpp"
#include "App/Windows/ReviewView.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::testing {

// The alias sheet (not yet shown) over a music folder of these artists.
struct AliasSheet {
    TempDir library;
    ModelFixture f{
        [this](Settings& settings) { settings.setString("srcPath", library.path().string()); }};
    std::unique_ptr<ArtistAliasesView> view;

    explicit AliasSheet(const std::vector<std::string>& artists = {}) {
        for (const auto& artist : artists)
            std::filesystem::create_directories(library.path() / artist);
        f.model->reloadArtists();
        view = std::make_unique<ArtistAliasesView>(*f.model);
    }
    // The fields of the rows on the sheet (rows taken away wait hidden for deletion).
    QList<QLineEdit*> fields(const char* name) {
        QList<QLineEdit*> shown;
        for (QLineEdit* field : view->findChildren<QLineEdit*>(name))
            if (field->isVisibleTo(view.get())) shown.push_back(field);
        return shown;
    }
};

inline const DeviceProfile& loadedProfile(const AppModel& model, const std::string& id) {
    for (const DeviceProfile& profile : model.profiles())
        if (profile.id == id) return profile;
    throw std::runtime_error("no profile " + id);
}

// The profile editor open on `profile` over a model on private settings.
struct OpenEditor {
    ModelFixture fixture;
    int closed = 0;
    std::unique_ptr<ProfileEditorView> sheet;

    void open(DeviceProfile profile) {
        sheet = std::make_unique<ProfileEditorView>(*fixture.model, std::move(profile),
                                                    [this] { ++closed; });
        sheet->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(sheet.get()));
    }
    AppModel& model() { return *fixture.model; }
    template <typename T>
    T* find(const char* name) {
        return child<T>(*sheet, name);
    }
    void openAdvanced() { click(*sheet, "advancedDisclosure"); }
    // A user's pick in a picker, by its label.
    void pick(const char* picker, const QString& label) { choose(*find<QComboBox>(picker), label); }
    void type(const char* field, const QString& text) {
        QTest::keyClicks(find<QLineEdit>(field), text);
    }
    void save() { click(*sheet, "saveButton"); }
    // A new profile made from the generic MP3 one, as "新しい機種…" opens it.
    DeviceProfile freshProfile() {
        DeviceProfile fresh = loadedProfile(model(), "generic-mp3");
        fresh.id = "";
        fresh.fileURL.reset();
        fresh.isBuiltin = false;
        fresh.name = "うちのナビ（汎用 MP3…）";
        fresh.verified = DeviceProfile::Verified{"2026-12-06", "曲名・アルバム名が出た"};
        return fresh;
    }
    // Opens the advanced group and saves a folder name the store refuses.
    void saveARefusedRoot() {
        openAdvanced();
        pick("tagFormatPicker", "ID3v1 だけ（2000 年代の国産ナビ。JIS 形式）");
        type("rootField", ":1");
        save();
        QTest::qWait(20);  // the opened group and the error line settle first
    }
};

// A real plan of a small Japanese library, planned by the real pass, with the
// review sheet open on it; conversions are instant stand-ins.
struct OpenReview {
    TempDir music;
    TempDir out;
    ModelFixture f{[this](Settings& settings) {
                       settings.setString("srcPath", music.path().string());
                       settings.setString("destPath", out.path().string());
                       settings.setBoolean("lookup", false);
                   },
                   true};
    std::unique_ptr<ReviewView> sheet;

    OpenReview() {
        const char* artist = "さくら楽団";
        makeMusicLibrary(music.path(), {{artist, "はじめてのアルバム", 1, "春の風"},
                                        {artist, "はじめてのアルバム", 2,
                                         "夏の夜の夢をもう一度だけ見せてほしいと願った日のこと"},
                                        {artist, "はじめてのアルバム", 3, "秋"}});
        model().reloadArtists();
        model().startPlanning();
        EXPECT_TRUE(waitUntil([this] { return !model().state().is(RunState::Case::planning); },
                              std::chrono::seconds(60)));
        EXPECT_TRUE(model().state().is(RunState::Case::reviewing)) << model().state().message;
        sheet = std::make_unique<ReviewView>(model());
        sheet->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(sheet.get()));
    }

    AppModel& model() { return *f.model; }
    template <typename T>
    T* find(const char* name) {
        return child<T>(*sheet, name);
    }
};

}  // namespace tarvik::testing
