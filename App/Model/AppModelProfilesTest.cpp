#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "App/Model/AppModel.hpp"
#include "App/Model/AppModelTesting.hpp"
#include "Core/Platform/Json.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

std::size_t listed(const AppModel& model, const std::string& id) {
    return static_cast<std::size_t>(std::count_if(model.profiles().begin(), model.profiles().end(),
                                                  [&](const auto& p) { return p.id == id; }));
}

struct ProfilesModel {
    testing::ScopedXdg xdg;
    fs::path folder = xdg.support() / "profiles";
    std::unique_ptr<AppModel> model;

    explicit ProfilesModel(const Files& files) {
        testing::writeFiles(folder, files);
        model = std::make_unique<AppModel>(AppModelTesting::services(xdg));
    }
    std::vector<std::string> notices() const {
        std::vector<std::string> texts;
        for (const LogLine& line : model->log())
            if (line.kind == LogLine::Kind::notice) texts.push_back(line.text);
        return texts;
    }
};

// An older file named otherwise than its id, holding a rate the validator
// refuses: the step's failure goes once it is mended, and the save leaves
// one file in the current form under the id's name, listed once, which the
// editor's delete then takes away whole.
TEST(AppModelProfilesTest, AnOlderProfileNamedOtherwiseIsSavedInItsPlaceAndListedOnce) {
    ProfilesModel m(Files{{"うちのナビ (古い).json",
                           R"({"id": "old-navi", "name": "うちのナビ", "bitrate": "320k",
                          "sample_rate": 22050})"}});
    AppModel& model = *m.model;
    model.setProfileId("old-navi");
    ASSERT_NE(model.selectedProfile(), nullptr);
    AppModelTesting::setState(model, RunState::failed("機種の設定を直してください"));
    DeviceProfile mended = *model.selectedProfile();
    mended.audio.sampleRate = 44100;
    model.saveProfile(mended);

    EXPECT_TRUE(model.state().is(RunState::Case::idle));
    EXPECT_EQ(model.profileId(), "old-navi");
    EXPECT_EQ(listed(model, "old-navi"), 1U);
    const auto files = testing::filesBelow(m.folder);
    ASSERT_EQ(files.size(), 1U);
    ASSERT_EQ(files.begin()->first, "old-navi.json");
    const nlohmann::json saved = json::parse(files.begin()->second);
    EXPECT_EQ(saved["schemaVersion"], 1);
    EXPECT_EQ(saved["audio"]["bitrate"], 320);
    EXPECT_EQ(saved["audio"]["sampleRate"], 44100);

    model.deleteProfile(*model.selectedProfile());
    EXPECT_EQ(listed(model, "old-navi"), 0U);
    EXPECT_TRUE(testing::filesBelow(m.folder).empty());
}

// Two files of one id: one is listed, the log names the other once, and both
// stay on disk.
TEST(AppModelProfilesTest, TwoFilesOfOneIdListOneAndTheLogNamesTheOtherOnce) {
    const Files files = {{"twin.json", R"({"schemaVersion": 1, "id": "twin", "name": "New"})"},
                         {"copy.json", R"({"id": "twin", "name": "Old", "bitrate": "96k"})"}};
    ProfilesModel m(files);
    EXPECT_EQ(listed(*m.model, "twin"), 1U);
    m.model->setProfileId("twin");
    EXPECT_EQ(m.model->selectedProfile()->name, "New");
    const std::vector<std::string> told = {"同じ ID「twin」の機種の設定が 2 つあります。「" +
                                           (m.folder / "twin.json").string() + "」を使い、「" +
                                           (m.folder / "copy.json").string() +
                                           "」は使っていません（ファイルはそのままです）。"};
    EXPECT_EQ(m.notices(), told);
    m.model->loadProfiles();
    EXPECT_EQ(m.notices(), told);
    EXPECT_EQ(testing::filesBelow(m.folder), files);
}

// A failed run's message stays while its profile does, and goes when another
// is chosen.
TEST(AppModelProfilesTest, TheStepsFailureGoesWhenAnotherProfileIsChosen) {
    ProfilesModel m(Files{});
    AppModel& model = *m.model;
    AppModelTesting::setState(model, RunState::failed("機種の設定を直してください"));
    model.setProfileId(model.profileId());
    model.loadProfiles();
    EXPECT_TRUE(model.state().is(RunState::Case::failed));
    model.setProfileId("generic-mp3");
    EXPECT_TRUE(model.state().is(RunState::Case::idle));
}

}  // namespace
}  // namespace tarvik
