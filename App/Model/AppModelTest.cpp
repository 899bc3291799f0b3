#include "App/Model/AppModel.hpp"

#include <gtest/gtest.h>

#include "App/Model/AppModelTesting.hpp"
#include "Core/Platform/Regex.hpp"

namespace tarvik {
namespace {

using testing::writeFile;

std::filesystem::path standardFile(const testing::ScopedXdg& xdg) {
    return xdg.config() / "Tarvik" / "Tarvik.conf";
}

void writeIni(const std::filesystem::path& file, const std::string& lines) {
    writeFile(file, "[General]\n" + lines);
}

TEST(AppModelStartTest, FirstStartSelectsTheDefaultAndWritesNoDefaults) {
    testing::ScopedXdg xdg;
    AppModel model(AppModelTesting::services(xdg));
    EXPECT_EQ(model.profileId(), "panasonic-hds940d");

    // Only the selection is written back at start-up; defaults stay unwritten,
    // and no support folder appears before something is saved there.
    const std::unique_ptr<Settings> stored = xdg.settings();
    for (const char* key : {"srcPath", "profileId", "lookup", "loudness", "importedV2", "carryOver"})
        EXPECT_FALSE(stored->contains(key)) << key;
    EXPECT_EQ(stored->stringList("selected"), std::vector<std::string>{});
    EXPECT_FALSE(std::filesystem::exists(xdg.support()));
}

TEST(AppModelStartTest, AProfileIdNamingNoProfileFallsBackToTheFirst) {
    testing::ScopedXdg xdg;
    xdg.settings()->setString("profileId", "removed-long-ago");
    AppModel model(AppModelTesting::services(xdg));
    EXPECT_EQ(model.profileId(), model.profiles().front().id);
    EXPECT_EQ(xdg.settings()->string("profileId"), model.profiles().front().id);
}

TEST(AppModelStartTest, WrongTypedStoredValuesReadAsTheirDefaults) {
    testing::ScopedXdg xdg;
    writeIni(standardFile(xdg),
             "lookup=maybe\nnormalize=0\nloudness=nan\nskipReview=TRUE\nsrcPath=a, b\n"
             "onboarded=2\nautoSend=yes\n");
    AppModel model(AppModelTesting::services(xdg));
    EXPECT_TRUE(model.lookup());
    EXPECT_FALSE(model.normalize());
    EXPECT_EQ(model.loudness(), -14.0);
    EXPECT_TRUE(model.skipReview());
    EXPECT_EQ(model.srcPath(), "");  // an unquoted comma makes a list, not a path
    EXPECT_FALSE(model.onboarded());
    EXPECT_FALSE(model.autoSend());
}

TEST(AppModelStartTest, TheOlderSettingsAreImportedOnceAndOnlyWhatFits) {
    struct Case {
        std::string name;
        std::string current;
        std::optional<std::string> legacy;  // absent: no older file
        std::string srcPath;
        bool lookup;
        double loudness;
        std::string profileId;
        std::set<std::string> selected;
        bool imported;
    };
    testing::TempDir music;
    const std::string there = music.path().string();
    const std::string gone = there + "/gone";
    std::filesystem::create_directories(music / "A");
    std::filesystem::create_directories(music / "B");
    const std::vector<Case> cases = {
        {"everything", "", "srcPath=" + there + "\nlookup=false\nloudness=-16.5\nprofileId=generic-mp3\n"
                           "selected=A, B/C\n",
         there, false, -16.5, "generic-mp3", {"A", "B/C"}, true},
        {"missing folder", "", "srcPath=" + gone + "\n", "", true, -14, "panasonic-hds940d", {}, true},
        {"current kept", "srcPath=" + there + "/mine\nselected=Mine\n",
         "srcPath=" + there + "\nselected=Old\n", there + "/mine", true, -14, "panasonic-hds940d",
         {"Mine"}, true},
        {"wrong types", "", "lookup=nope\nloudness=x\nprofileId=\n", "", true, -14, "panasonic-hds940d",
         {}, true},
        {"ui testing", "uiTesting=true\n", "lookup=false\n", "", true, -14, "panasonic-hds940d", {}, false},
        {"already imported", "importedV2=true\n", "lookup=false\n", "", true, -14, "panasonic-hds940d",
         {}, true},
        {"no older domain", "", std::nullopt, "", true, -14, "panasonic-hds940d", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::ScopedXdg xdg;
        writeIni(standardFile(xdg), c.current);
        if (c.legacy) writeIni(xdg.config() / "local.tarvik.app.conf", *c.legacy);
        AppModel model(AppModelTesting::services(xdg));
        EXPECT_EQ(model.srcPath(), c.srcPath);
        EXPECT_EQ(model.lookup(), c.lookup);
        EXPECT_EQ(model.loudness(), c.loudness);
        EXPECT_EQ(model.profileId(), c.profileId);
        EXPECT_EQ(model.selected(), c.selected);
        EXPECT_EQ(xdg.settings()->boolean("importedV2").value_or(false), c.imported);
    }
}

TEST(AppModelStartTest, AContinuationSurvivesARestart) {
    testing::ScopedXdg xdg;
    {
        AppModel model(AppModelTesting::services(xdg));
        model.setCarryOver({"b/2.mp3", "a/1.mp3"});
        model.setContinuing(true);
    }
    EXPECT_EQ(xdg.settings()->stringList("carryOver"),
              (std::vector<std::string>{"a/1.mp3", "b/2.mp3"}));
    AppModel model(AppModelTesting::services(xdg));
    EXPECT_EQ(model.carryOver(), (std::set<std::string>{"a/1.mp3", "b/2.mp3"}));
    EXPECT_TRUE(model.continuing());
}

TEST(AppModelProfileTest, SavingUnderADeliveredOrBlankIdGivesANewCustomId) {
    static const Regex customId("custom-[0-9a-f]{8}");
    for (const std::string id : {"panasonic-hds940d", "", " \t"}) {
        SCOPED_TRACE(id);
        testing::ScopedXdg xdg;
        AppModel model(AppModelTesting::services(xdg));
        DeviceProfile profile = model.profiles().front();
        profile.id = id;
        profile.name = "My unit";

        model.saveProfile(profile);
        const std::string saved = model.profileId();
        EXPECT_TRUE(customId.matchesWhole(saved)) << saved;
        const DeviceProfile* selected = model.selectedProfile();
        ASSERT_NE(selected, nullptr);
        EXPECT_FALSE(selected->isBuiltin);
        EXPECT_TRUE(std::filesystem::exists(xdg.support() / "profiles" / (saved + ".json")));

        // Saving the user's profile again keeps its id and its single file.
        DeviceProfile again = *selected;
        again.name = "Renamed";
        model.saveProfile(again);
        EXPECT_EQ(model.profileId(), saved);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(xdg.support() / "profiles"),
                                std::filesystem::directory_iterator()),
                  1);
    }
}

TEST(AppModelProfileTest, AnIdThatIsNoPlainFileNameIsRefusedAndNothingIsWritten) {
    for (const std::string id : {"../escape", "a/b", ".hidden"}) {
        SCOPED_TRACE(id);
        testing::ScopedXdg xdg;
        AppModel model(AppModelTesting::services(xdg));
        DeviceProfile profile = model.profiles().front();
        profile.id = id;
        EXPECT_THROW(model.saveProfile(profile), std::exception);
        EXPECT_EQ(model.profileId(), AppModel::defaultProfileId);
        EXPECT_FALSE(std::filesystem::exists(xdg.support()));
        EXPECT_FALSE(std::filesystem::exists(xdg.data() / "escape.json"));
    }
}

TEST(AppModelProfileTest, DeletingTheSelectedUserProfileSelectsTheFirst) {
    testing::ScopedXdg xdg;
    AppModel model(AppModelTesting::services(xdg));
    const std::size_t delivered = model.profiles().size();
    DeviceProfile profile = model.profiles().back();
    profile.id = "my-unit";
    model.saveProfile(profile);
    ASSERT_EQ(model.profiles().size(), delivered + 1);

    // A delivered profile is never deleted.
    model.deleteProfile(model.profiles().front());
    EXPECT_EQ(model.profiles().size(), delivered + 1);

    model.deleteProfile(*model.selectedProfile());
    EXPECT_EQ(model.profiles().size(), delivered);
    EXPECT_EQ(model.profileId(), model.profiles().front().id);
}

}  // namespace
}  // namespace tarvik
