#include <gtest/gtest.h>

#include "App/Model/AppModel.hpp"
#include "App/Model/AppModelTesting.hpp"
#include "Core/Platform/Regex.hpp"

namespace tarvik {
namespace {

void writeIni(const std::filesystem::path& file, const std::string& lines) {
    testing::writeFile(file, "[General]\n" + lines);
}

// A continuation is restored; wrong-typed values (each type's own reading is
// the settings' test) read as their defaults.
TEST(AppModelStartTest, StoredValuesAreRestoredOrReadAsTheirDefaults) {
    testing::ScopedXdg xdg;
    writeIni(xdg.config() / "Tarvik" / "Tarvik.conf",
             "lookup=maybe\nloudness=nan\nsrcPath=a, "
             "b\nprofileId=removed-long-ago\ncarryOver=b/2.mp3, a/1.mp3\ncontinuing=true\n");
    AppModel model(AppModelTesting::services(xdg));
    EXPECT_TRUE(model.lookup());
    EXPECT_EQ(model.loudness(), -14.0);
    EXPECT_EQ(model.srcPath(), "");  // an unquoted comma makes a list, not a path
    EXPECT_EQ(model.profileId(), model.profiles().front().id);
    EXPECT_EQ(xdg.settings()->string("profileId"), model.profiles().front().id);
    EXPECT_EQ(model.carryOver(), (std::set<std::string>{"a/1.mp3", "b/2.mp3"}));
    EXPECT_TRUE(model.continuing());
}

// Once, only what fits, never while UI testing; an unreadable older file is
// not taken as an empty one, so its import is tried again later.
TEST(AppModelStartTest, TheOlderSettingsAreImportedOnceAndOnlyWhatFits) {
    // An absent older file is a folder in its place.
    struct Case {
        std::string current;
        std::optional<std::string> legacy;
        std::string srcPath;
        bool lookup;
        std::set<std::string> selected;
        bool imported;
    };
    testing::TempDir music;
    const std::string there = music.path().string();
    for (const char* artist : {"A", "B"}) std::filesystem::create_directories(music / artist);
    const std::vector<Case> cases = {
        {"",
         "srcPath=" + there + "\nlookup=false\nloudness=-16.5\nselected=A, B/C\n",
         there,
         false,
         {"A", "B/C"},
         true},
        {"", "srcPath=" + there + "/gone\n", "", true, {}, true},
        {"srcPath=" + there + "/mine\nselected=Mine\n",
         "srcPath=" + there + "\nselected=Old\n",
         there + "/mine",
         true,
         {"Mine"},
         true},
        {"", "lookup=nope\nloudness=x\nprofileId=\n", "", true, {}, true},
        {"uiTesting=true\n", "lookup=false\n", "", true, {}, false},
        {"importedV2=true\n", "lookup=false\n", "", true, {}, true},
        {"", std::nullopt, "", true, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.current + " / " + c.legacy.value_or("unreadable"));
        testing::ScopedXdg xdg;
        writeIni(xdg.config() / "Tarvik" / "Tarvik.conf", c.current);
        const auto legacy = xdg.config() / "local.tarvik.app.conf";
        c.legacy ? writeIni(legacy, *c.legacy) : void(std::filesystem::create_directories(legacy));
        AppModel model(AppModelTesting::services(xdg));
        EXPECT_EQ(model.srcPath(), c.srcPath);
        EXPECT_EQ(model.lookup(), c.lookup);
        EXPECT_EQ(model.loudness(), c.lookup ? -14.0 : -16.5);
        EXPECT_EQ(model.profileId(), AppModel::defaultProfileId);
        EXPECT_EQ(model.selected(), c.selected);
        EXPECT_EQ(xdg.settings()->boolean("importedV2").value_or(false), c.imported);
    }
}

// A delivered or blank id gets a fresh custom id; an id that is no plain file
// name is refused before anything is written.
TEST(AppModelProfileTest, SavingGivesASafeIdAndDeletingSelectsTheFirst) {
    static const Regex customId("custom-[0-9a-f]{8}");
    for (const std::string id : {"panasonic-hds940d", " \t", "../escape", "a/b", ".hidden"}) {
        SCOPED_TRACE(id);
        testing::ScopedXdg xdg;
        AppModel model(AppModelTesting::services(xdg));
        EXPECT_FALSE(xdg.settings()->contains("loudness"));  // defaults stay unwritten
        const std::size_t delivered = model.profiles().size();
        DeviceProfile profile = model.profiles().back();
        profile.id = id;
        if (id.find_first_of("./") != std::string::npos) {
            EXPECT_THROW(model.saveProfile(profile), std::exception);
            EXPECT_EQ(model.profileId(), AppModel::defaultProfileId);
            EXPECT_FALSE(std::filesystem::exists(xdg.support()));
            EXPECT_FALSE(std::filesystem::exists(xdg.data() / "escape.json"));
            continue;
        }
        model.saveProfile(profile);
        const std::string saved = model.profileId();
        EXPECT_TRUE(customId.matchesWhole(saved)) << saved;
        DeviceProfile again = *model.selectedProfile();
        EXPECT_FALSE(again.isBuiltin);
        again.name = "Renamed";
        model.saveProfile(again);  // the user's own id and single file are kept
        EXPECT_EQ(model.profileId(), saved);
        EXPECT_EQ(testing::filesBelow(xdg.support() / "profiles").size(), 1U);

        model.deleteProfile(model.profiles().front());  // a delivered one is never deleted
        EXPECT_EQ(model.profiles().size(), delivered + 1);
        model.deleteProfile(*model.selectedProfile());
        EXPECT_EQ(model.profiles().size(), delivered);
        EXPECT_EQ(model.profileId(), model.profiles().front().id);
    }
}

}  // namespace
}  // namespace tarvik
