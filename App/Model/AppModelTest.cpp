#include <gtest/gtest.h>

#include "App/Model/AppModel.hpp"
#include "App/Model/AppModelTesting.hpp"
#include "Core/Platform/Regex.hpp"

namespace tarvik {
namespace {

void writeIni(const std::filesystem::path& file, const std::string& lines) {
    testing::writeFile(file, "[General]\n" + lines);
}

// Once, only what fits, never while UI testing; an unreadable older file is
// not taken as an empty one, so its import is tried again later. Wrong-typed
// values (each type's own reading is the settings' test) read as their
// defaults; an unquoted comma makes a list, not a path.
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
    const auto src = [&](const std::string& below) { return "srcPath=" + there + below + "\n"; };
    const std::string older = src("") + "lookup=false\nloudness=-16.5\nselected=A, B/C\n";
    const std::string mine = src("/mine") + "selected=Mine\n";
    const std::string wrongTypes =
        "lookup=maybe\nloudness=nan\nsrcPath=a, b\nprofileId=removed-long-ago\n";
    const std::vector<Case> cases = {
        {"", older, there, false, {"A", "B/C"}, true},
        {"", src("/gone"), "", true, {}, true},
        {mine, src("") + "selected=Old\n", there + "/mine", true, {"Mine"}, true},
        {"", "lookup=nope\nloudness=x\nprofileId=\n", "", true, {}, true},
        {"uiTesting=true\n", "lookup=false\n", "", true, {}, false},
        {"importedV2=true\n", "lookup=false\n", "", true, {}, true},
        {wrongTypes, std::nullopt, "", true, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.current + " / " + c.legacy.value_or("unreadable"));
        testing::ScopedXdg xdg;
        writeIni(xdg.config() / "Tarvik" / "Tarvik.conf", c.current);
        const auto legacy = xdg.config() / "local.tarvik.app.conf";
        c.legacy ? writeIni(legacy, *c.legacy) : void(std::filesystem::create_directories(legacy));
        AppModel model(AppModelTesting::services(xdg));
        ASSERT_TRUE(testing::settle(model));
        EXPECT_EQ(model.srcPath(), c.srcPath);
        EXPECT_EQ(model.lookup(), c.lookup);
        EXPECT_EQ(model.loudness(), c.lookup ? -14.0 : -16.5);
        EXPECT_EQ(model.profileId(), AppModel::defaultProfileId);
        EXPECT_EQ(xdg.settings()->string("profileId").value_or(model.profileId()),
                  model.profileId());
        EXPECT_EQ(model.selected(), c.selected);
        EXPECT_EQ(xdg.settings()->boolean("importedV2").value_or(false), c.imported);
    }
}

// A delivered or blank id, or one that is no plain file name (the editor has
// no field to mend it), gets a fresh custom id.
TEST(AppModelProfileTest, SavingGivesASafeIdAndDeletingSelectsTheFirst) {
    static const Regex customId("custom-[0-9a-f]{8}");
    for (const std::string id : {"panasonic-hds940d", " \t", "../escape"}) {
        SCOPED_TRACE(id);
        testing::ScopedXdg xdg;
        AppModel model(AppModelTesting::services(xdg));
        EXPECT_FALSE(xdg.settings()->contains("loudness"));  // defaults stay unwritten
        const std::size_t delivered = model.profiles().size();
        DeviceProfile profile = model.profiles().back();
        profile.id = id;
        model.saveProfile(profile);
        const std::string saved = model.profileId();
        EXPECT_TRUE(customId.matchesWhole(saved)) << saved;
        DeviceProfile again = *model.selectedProfile();
        again.name = "Renamed";
        model.saveProfile(again);  // the user's own id and single file are kept
        EXPECT_EQ(model.profileId(), saved);
        EXPECT_EQ(testing::filesBelow(xdg.support() / "profiles").size(), 1U);

        model.deleteProfile(model.profiles().front());  // a delivered one is never deleted
        EXPECT_EQ(model.profiles().size(), delivered + 1);
        model.deleteProfile(*model.selectedProfile());
        EXPECT_EQ(model.profileId(), model.profiles().front().id);
    }
}

}  // namespace
}  // namespace tarvik
