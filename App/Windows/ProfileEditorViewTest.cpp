#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QtTest>
#include <fstream>
#include <tuple>

#include "App/Platform/AppPaths.hpp"
#include "App/Testing/Screenshots.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "App/Windows/ProfileEditorView.hpp"
#include "App/Kit/StepperRow.hpp"
#include "Core/Profiles/ProfileStore.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

const DeviceProfile& loaded(const AppModel& model, const std::string& id) {
    for (const DeviceProfile& profile : model.profiles())
        if (profile.id == id) return profile;
    throw std::runtime_error("no profile " + id);
}

// The sheet open on `profile` over a model on private settings.
struct OpenEditor {
    testing::ModelFixture fixture;
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
        return testing::child<T>(*sheet, name);
    }
    void openAdvanced() { testing::click(*sheet, "advancedDisclosure"); }
    // A user's pick in a picker, by its label.
    void pick(const char* picker, const QString& label) {
        testing::choose(*find<QComboBox>(picker), label);
    }
    QString errorText() {
        return testing::shown(*sheet, "profileEditorError")
                   ? find<QLabel>("profileEditorError")->text()
                   : QString();
    }
    void type(const char* field, const QString& text) {
        QTest::keyClicks(find<QLineEdit>(field), text);
    }
    void save() { testing::click(*sheet, "saveButton"); }
    void retype(const char* field, const QString& text) {
        find<QLineEdit>(field)->selectAll();
        QTest::keyClick(find<QLineEdit>(field), Qt::Key_Backspace);
        type(field, text);
    }
};

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
    EXPECT_EQ(e.find<QComboBox>("qualityPicker")->currentIndex(), -1);
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

// Shot on the way: the new profile's sheet, then its opened group with a refusal.
TEST(ProfileEditorViewTest, ARefusedOrFailedSaveKeepsTheSheetOpenWithItsReason) {
    OpenEditor e;
    DeviceProfile fresh = loaded(e.model(), "generic-mp3");
    fresh.id = "";
    fresh.fileURL.reset();
    fresh.isBuiltin = false;
    fresh.name = "うちのナビ（汎用 MP3…）";
    fresh.verified = DeviceProfile::Verified{"2026-12-06", "曲名・アルバム名が出た"};
    e.open(fresh);
    testing::inLightAndDark([&](const std::string& suffix) {
        testing::saveScreenshot(*e.sheet, "profile-editor-" + suffix);
    });
    e.openAdvanced();
    e.pick("tagFormatPicker", "ID3v1 だけ（2000 年代の国産ナビ。JIS 形式）");
    e.type("rootField", ":1");
    e.save();
    QTest::qWait(20);  // the opened group and the error line settle first
    QScrollBar* bar = e.find<QScrollArea>("profileEditorForm")->verticalScrollBar();
    bar->setValue(bar->maximum());
    EXPECT_EQ(e.errorText(), "files.root: フォルダ名に使えない文字が入っています");
    testing::inLightAndDark([&](const std::string& suffix) {
        testing::saveScreenshot(*e.sheet, "profile-editor-advanced-" + suffix);
    });
    e.retype("profileNameField", "");
    e.save();
    EXPECT_EQ(e.errorText(), "機種の名前を入れてください");

    e.retype("rootField", "MUSIC");
    e.type("profileNameField", "My Navi");
    // A file where the profiles folder belongs: the store cannot write there.
    fs::create_directories(AppPaths::profilesDirectory().parent_path());
    std::ofstream(AppPaths::profilesDirectory()) << "in the way";
    const auto before = e.model().profiles();
    e.save();
    EXPECT_TRUE(e.errorText().startsWith("保存できませんでした: ")) << e.errorText().toStdString();
    EXPECT_GT(e.errorText().size(), QString("保存できませんでした: ").size());
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
