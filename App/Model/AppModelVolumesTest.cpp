#include <gtest/gtest.h>

#include <QCoreApplication>

#include "App/Model/AppModel.hpp"
#include "App/Model/AppModelTesting.hpp"
#include "App/Testing/AppTesting.hpp"
#include "App/Testing/FixtureVolumes.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using testing::FixtureVolumes;
using testing::filesBelow;
using testing::TempDir;
using testing::waitUntil;
using testing::writeFile;

class AppModelVolumesTest : public ::testing::Test {
protected:
    AppModelVolumesTest() { volumes_->add({.path = "/", .name = "root", .rootFileSystem = true}); }

    // A model started with the settings and volumes the test prepared.
    AppModel& start() {
        AppModel::Services services = AppModelTesting::services(xdg_);
        services.volumes = volumes_;
        model_ = std::make_unique<AppModel>(std::move(services));
        return *model_;
    }

    void setDest(const std::string& path) { xdg_.settings()->setString("destPath", path); }

    // A card whose mount point is a real folder of the temporary tree.
    FixtureVolumes::Mounted card(const std::string& name) {
        const auto path = temp_ / "media" / name;
        std::filesystem::create_directories(path);
        return FixtureVolumes::card(path);
    }

    testing::ScopedXdg xdg_;
    TempDir temp_;
    std::shared_ptr<FixtureVolumes> volumes_ = std::make_shared<FixtureVolumes>();
    std::unique_ptr<AppModel> model_;
};

TEST_F(AppModelVolumesTest, TheOnlyRemovableVolumeBecomesTheDestinationTwoAreLeftAlone) {
    volumes_->add(card("A"));
    volumes_->add({.path = "/home", .name = "home", .internal = true});
    AppModel& model = start();
    EXPECT_EQ(model.destPath(), (temp_ / "media" / "A").string());
    ASSERT_EQ(model.volumes().size(), 2U);  // the root is no volume
    EXPECT_EQ(model.destinationVolume(), &model.volumes().front());

    model.setDestPath("");
    volumes_->mount(card("B"));
    EXPECT_EQ(model.destPath(), "");
}

TEST_F(AppModelVolumesTest, DestinationIsTheVolumeWithACanonicallyEqualPath) {
    volumes_->add(card("Caf\u00E9"));
    volumes_->add(card("X"));
    setDest((temp_ / "media" / "Cafe\u0301").string());
    AppModel& model = start();
    ASSERT_NE(model.destinationVolume(), nullptr);
    EXPECT_EQ(model.destinationVolume()->name, "Caf\u00E9");
}

TEST_F(AppModelVolumesTest, AnExistingFolderStaysADeletedOneIsCleared) {
    const auto folder = temp_ / "Export";
    std::filesystem::create_directories(folder);
    setDest(folder.string());
    AppModel& model = start();
    EXPECT_EQ(model.destPath(), folder.string());
    std::filesystem::remove(folder);
    model.refreshVolumes();
    EXPECT_EQ(model.destPath(), "");
}

TEST_F(AppModelVolumesTest, AnUnmountedCardsEmptyMountFolderIsCleared) {
    volumes_->add(card("A"));
    volumes_->add(card("B"));
    const std::string a = (temp_ / "media" / "A").string();
    setDest(a);
    AppModel& model = start();
    EXPECT_EQ(model.destPath(), a);
    volumes_->unmount(a);  // the folder stays, as a static mount folder does
    const std::string b = (temp_ / "media" / "B").string();
    EXPECT_EQ(model.destPath(), b);  // now the only card

    // The same for a card pulled while the program was closed.
    model_.reset();
    volumes_->unmount(b);
    EXPECT_EQ(start().destPath(), "");
}

TEST_F(AppModelVolumesTest, MountRefreshesAndCleansAFreshCard) {
    AppModel& model = start();
    model.setAutoCleanSD(true);
    FixtureVolumes::Mounted fresh = card("CARD");
    writeFile(fresh.path / "._01 Song.mp3", "fork");
    writeFile(fresh.path / "Album\u301C" / "01\u301C.mp3", "music");
    volumes_->cards.insert(fresh.path);
    volumes_->mount(fresh);
    EXPECT_EQ(model.volumes().size(), 1U);
    ASSERT_TRUE(waitUntil([&] { return model.cleanNotice().has_value(); }));
    EXPECT_EQ(*model.cleanNotice(),
              "SD カード「CARD」を掃除しました（隠しファイル 1 個、名前の修正 2 個）。"
              "このままカーナビに差して大丈夫です。");
    EXPECT_EQ(filesBelow(fresh.path), (std::map<std::string, std::string>{{"Album~/01~.mp3", "music"}}));

    // A clean that changes nothing leaves the notice as it is.
    model.setCleanNotice("earlier");
    volumes_->unmount(fresh.path);
    EXPECT_TRUE(model.volumes().empty());
    volumes_->mount(fresh);
    QCoreApplication::processEvents();
    EXPECT_FALSE(waitUntil([&] { return model.cleanNotice() != "earlier"; },
                           std::chrono::milliseconds(300)));
}

TEST_F(AppModelVolumesTest, NoCleaningWhileSendingOrExportingToTheCard) {
    AppModel& model = start();
    model.setAutoCleanSD(true);
    FixtureVolumes::Mounted fresh = card("CARD");
    writeFile(fresh.path / ".DS_Store", "x");
    volumes_->cards.insert(fresh.path);
    model.setSendingToCard(true);
    volumes_->mount(fresh);
    model.setSendingToCard(false);
    AppModelTesting::setState(model, RunState::running());
    model.setDestPath(fresh.path.string());
    model.autoCleanIfNeeded(fresh.path);
    EXPECT_FALSE(waitUntil([&] { return model.cleanNotice().has_value(); },
                           std::chrono::milliseconds(300)));
    EXPECT_TRUE(std::filesystem::exists(fresh.path / ".DS_Store"));
}

TEST_F(AppModelVolumesTest, EjectCardClearsTheDestinationAndPicksTheNextCard) {
    volumes_->add(card("A"));
    volumes_->add(card("B"));
    const auto a = temp_ / "media" / "A";
    setDest(a.string());
    AppModel& model = start();
    model.ejectCard();
    ASSERT_TRUE(waitUntil([&] { return model.destPath() != a.string(); }));
    EXPECT_EQ(volumes_->ejected(), std::vector<std::filesystem::path>{a});
    EXPECT_EQ(model.destPath(), (temp_ / "media" / "B").string());  // now the only card
    EXPECT_EQ(model.ejectError(), std::nullopt);
}

TEST_F(AppModelVolumesTest, RefusedEjectIsReportedAndKeepsTheDestination) {
    volumes_->add(card("CARD"));
    const auto path = temp_ / "media" / "CARD";
    volumes_->refuseEject(path, "target is busy");
    AppModel& model = start();
    model.ejectVolume(path);
    model.ejectVolume(path);  // a second press while the first runs does nothing
    ASSERT_TRUE(waitUntil([&] { return model.ejectError().has_value(); }));
    EXPECT_EQ(*model.ejectError(), "取り出せません: CARD（target is busy）");
    EXPECT_EQ(model.destPath(), path.string());
    EXPECT_EQ(volumes_->ejected().size(), 1U);
}

TEST_F(AppModelVolumesTest, EjectCardOfAPlainFolderDoesNothing) {
    volumes_->add(card("CARD"));
    volumes_->add(card("OTHER"));
    const auto folder = temp_ / "Export";
    std::filesystem::create_directories(folder);
    setDest(folder.string());
    AppModel& model = start();
    model.ejectCard();
    QCoreApplication::processEvents();
    EXPECT_TRUE(volumes_->ejected().empty());
    EXPECT_EQ(model.destPath(), folder.string());
}

TEST_F(AppModelVolumesTest, ContinueOnNextCardEjectsTheCardOrForgetsTheFolder) {
    volumes_->add(card("CARD"));
    AppModel& model = start();
    const auto path = temp_ / "media" / "CARD";
    model.continueOnNextCard();
    EXPECT_TRUE(model.continuing());
    EXPECT_TRUE(model.state().is(RunState::Case::idle));
    ASSERT_TRUE(waitUntil([&] { return model.destPath().empty(); }));
    EXPECT_EQ(volumes_->ejected(), std::vector<std::filesystem::path>{path});

    const auto folder = temp_ / "Export";
    std::filesystem::create_directories(folder);
    model.setDestPath(folder.string());
    model.continueOnNextCard();
    EXPECT_EQ(model.destPath(), "");
    EXPECT_EQ(volumes_->ejected().size(), 1U);
}

}  // namespace
}  // namespace tarvik
