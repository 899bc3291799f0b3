#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <algorithm>
#include <fstream>
#include <tuple>

#include "App/Kit/StepperRow.hpp"
#include "App/Platform/AppPaths.hpp"
#include "App/Windows/WindowsTesting.hpp"
#include "Core/Profiles/ProfileStore.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

using testing::OpenEditor;
constexpr auto loaded = &testing::loadedProfile;

QString errorText(OpenEditor& e) {
    return testing::shown(*e.sheet, "profileEditorError")
               ? e.find<QLabel>("profileEditorError")->text()
               : QString();
}

void retype(OpenEditor& e, const char* field, const QString& text) {
    e.find<QLineEdit>(field)->selectAll();
    QTest::keyClick(e.find<QLineEdit>(field), Qt::Key_Backspace);
    e.type(field, text);
}

// A user's profile file with a bit rate no option offers.
DeviceProfile userProfileAt320(OpenEditor& e) {
    DeviceProfile profile = loaded(e.model(), "generic-mp3");
    profile.id = "my-320";
    profile.name = "うちのナビ";
    profile.audio.bitrate = 320;
    profile.files.maxDepth = 3;
    profile.media.maxCardGB = 16;
    profile.isBuiltin = false;
    ProfileStore::save(profile, AppPaths::profilesDirectory());
    e.model().loadProfiles();
    return loaded(e.model(), "my-320");
}

TEST(ProfileEditorViewTest, AACHidesTheMP3OnlyRowsAndControlsEditTheCopyOnly) {
    OpenEditor e;
    DeviceProfile profile = loaded(e.model(), "generic-mp3");
    profile.files.maxPerFolder = 99;
    e.open(profile);
    e.openAdvanced();
    testing::expectShown(*e.sheet, {{"advancedSection", true}, {"aacNote", false}});

    e.pick("codecPicker", "AAC / m4a（新しめの機種・iPod 対応機）");
    testing::expectShown(*e.sheet, {{"tagFormatPicker", false},
                                    {"encodingPicker", false},
                                    {"id3v1Toggle", false},
                                    {"aacNote", true}});
    EXPECT_EQ(e.sheet->profile().tags.format, DeviceProfile::Tags::Format::mp4);

    e.pick("codecPicker", "MP3（ほとんどの機種）");
    testing::expectShown(*e.sheet, {{"tagFormatPicker", true}});

    testing::click(*e.find<StepperRow>("perFolderStepper"), "stepUp");
    EXPECT_EQ(e.sheet->profile().files.maxPerFolder, 100);

    QCheckBox* artwork = e.find<QCheckBox>("artworkToggle");
    if (artwork->isChecked()) artwork->click();
    EXPECT_FALSE(e.find<QComboBox>("artworkSizePicker")->isEnabled());
    EXPECT_EQ(e.sheet->profile().tags.artwork.maxPx, profile.tags.artwork.maxPx);

    testing::expectShown(*e.sheet, {{"verifiedNoteField", false}});
    e.find<QCheckBox>("verifiedToggle")->click();
    testing::expectShown(*e.sheet, {{"verifiedNoteField", true}});
    e.type("verifiedNoteField", "title ok");
    EXPECT_EQ(e.sheet->profile().verified->note, "title ok");
    EXPECT_FALSE(fs::exists(AppPaths::profilesDirectory()));
}

// A wheel passing over the form's pickers changes neither bit rate, codec,
// layout nor tags.
TEST(ProfileEditorViewTest, TheWheelChangesNoPicker) {
    OpenEditor e;
    const DeviceProfile profile = loaded(e.model(), "generic-mp3");
    e.open(profile);
    e.openAdvanced();
    testing::expectWheelLeavesPickers(*e.sheet);
    EXPECT_EQ(e.sheet->profile(), profile);
}

// Escape cancels without saving; Return saves, and an untouched 320 kbit/s
// stays 320 with the fields the sheet does not show passed through.
TEST(ProfileEditorViewTest, EscapeCancelsReturnSavesAnUntouched320AndOnlyOwnProfilesDelete) {
    OpenEditor e;
    const DeviceProfile original = userProfileAt320(e);
    e.open(original);
    e.type("profileNameField", " changed");
    QTest::keyClick(e.find<QLineEdit>("profileNameField"), Qt::Key_Escape);
    EXPECT_EQ(e.closed, 1);
    EXPECT_EQ(loaded(e.model(), "my-320").name, "うちのナビ");

    e.open(original);
    EXPECT_EQ(e.find<QComboBox>("qualityPicker")->currentText(), "320kbps");
    QTest::keyClick(e.find<QLineEdit>("profileNotesField"), Qt::Key_End);
    e.type("profileNotesField", " memo");
    QTest::keyClick(e.find<QLineEdit>("profileNotesField"), Qt::Key_Return);
    EXPECT_EQ(e.closed, 2);
    const DeviceProfile& saved = loaded(e.model(), "my-320");
    EXPECT_EQ(saved.audio.bitrate, 320);
    EXPECT_EQ(saved.notes, original.notes + " memo");
    EXPECT_EQ(std::tuple(saved.files.maxDepth, saved.media, saved.schemaVersion),
              std::tuple(3, original.media, original.schemaVersion));
    EXPECT_EQ(e.model().profileId(), "my-320");

    // Only a user's own profile can be deleted, and without asking.
    e.open(saved);
    testing::click(*e.sheet, "deleteProfileButton");
    EXPECT_EQ(e.closed, 3);
    EXPECT_FALSE(fs::exists(*original.fileURL));
    EXPECT_THROW(loaded(e.model(), "my-320"), std::runtime_error);
    e.open(loaded(e.model(), "generic-mp3"));
    EXPECT_EQ(e.sheet->findChild<QPushButton*>("deleteProfileButton"), nullptr);
}

// An older file named otherwise than its id shows what it holds, 320 kbit/s
// and 22,050 Hz; the refusal opens the group that shows the sample rate, and
// once it is picked there the profile is saved in place of its file, listed once.
TEST(ProfileEditorViewTest, AnOlderProfileShowsItsValuesAndIsMendedWhereTheRefusalPoints) {
    OpenEditor e;
    const fs::path folder = AppPaths::profilesDirectory();
    testing::writeFile(folder / "うちのナビ (古い).json",
                       R"({"id": "old-navi", "name": "うちのナビ", "bitrate": "320k",
                           "sample_rate": 22050})");
    e.model().loadProfiles();
    e.open(loaded(e.model(), "old-navi"));
    EXPECT_EQ(e.find<QComboBox>("qualityPicker")->currentText(), "320kbps");
    EXPECT_EQ(e.find<QComboBox>("sampleRatePicker")->currentText(), "22.05 kHz");
    testing::expectShown(*e.sheet, {{"sampleRatePicker", false}});
    e.save();
    EXPECT_EQ(errorText(e), "audio.sampleRate: 44100 か 48000 にしてください");
    testing::expectShown(*e.sheet, {{"sampleRatePicker", true}});
    e.pick("sampleRatePicker", "44.1 kHz（標準）");
    e.save();
    EXPECT_EQ(e.closed, 1);
    const auto files = testing::filesBelow(folder);
    ASSERT_EQ(files.size(), 1U);
    EXPECT_EQ(files.begin()->first, "old-navi.json");
    const auto& profiles = e.model().profiles();
    EXPECT_EQ(std::count_if(profiles.begin(), profiles.end(),
                            [](const auto& p) { return p.id == "old-navi"; }),
              1);
    const DeviceProfile& saved = loaded(e.model(), "old-navi");
    EXPECT_EQ(std::tuple(saved.audio.bitrate, saved.audio.sampleRate), std::tuple(320, 44100));
}

// An AAC file naming ID3 tags and the extra ID3v1 tag, rows the sheet hides
// under AAC, opens with the MP4 tags its note speaks of, and saves.
TEST(ProfileEditorViewTest, AnAACProfileWithID3TagsOpensWithMP4TagsAndSaves) {
    OpenEditor e;
    testing::writeFile(AppPaths::profilesDirectory() / "old-aac.json",
                       R"({"id": "old-aac", "name": "AAC ナビ", "codec": "aac",
                           "tag_format": "id3v2.3", "id3v1": true})");
    e.model().loadProfiles();
    e.open(loaded(e.model(), "old-aac"));
    e.openAdvanced();
    testing::expectShown(*e.sheet, {{"aacNote", true}, {"tagFormatPicker", false}});
    e.save();
    EXPECT_EQ(errorText(e), "");
    EXPECT_EQ(e.closed, 1);
    const DeviceProfile& saved = loaded(e.model(), "old-aac");
    EXPECT_EQ(std::tuple(saved.tags.format, saved.tags.id3v1),
              std::tuple(DeviceProfile::Tags::Format::mp4, false));
}

TEST(ProfileEditorViewTest, ARefusedOrFailedSaveKeepsTheSheetOpenWithItsReason) {
    OpenEditor e;
    e.open(e.freshProfile());
    e.saveARefusedRoot();
    EXPECT_EQ(errorText(e), "files.root: フォルダ名に使えない文字が入っています");
    retype(e, "profileNameField", "");
    e.save();
    EXPECT_EQ(errorText(e), "機種の名前を入れてください");

    retype(e, "rootField", "MUSIC");
    e.type("profileNameField", "My Navi");
    // A file where the profiles folder belongs: the store cannot write there.
    fs::create_directories(AppPaths::profilesDirectory().parent_path());
    std::ofstream(AppPaths::profilesDirectory()) << "in the way";
    const auto before = e.model().profiles();
    e.save();
    EXPECT_TRUE(errorText(e).startsWith("保存できませんでした: ")) << errorText(e).toStdString();
    EXPECT_GT(errorText(e).size(), QString("保存できませんでした: ").size());
    EXPECT_TRUE(e.sheet->isVisible());
    EXPECT_EQ(e.model().profiles(), before);

    fs::remove(AppPaths::profilesDirectory());
    e.save();
    EXPECT_EQ(e.closed, 1);
    ASSERT_NE(e.model().selectedProfile(), nullptr);
    EXPECT_EQ(e.model().selectedProfile()->name, "My Navi");
    EXPECT_TRUE(e.model().selectedProfile()->id.starts_with("custom-"));
}

}  // namespace
}  // namespace tarvik
