#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "App/Model/AppModelTesting.hpp"
#include "Core/Platform/DetachedTask.hpp"

namespace tarvik {
namespace {

using testing::FixtureVolumes;
using testing::waitUntil;
using testing::writeFile;

using AppModelVolumesTest = testing::VolumesTest;

TEST_F(AppModelVolumesTest, TheOnlyRemovableVolumeBecomesTheDestinationByCanonicalPath) {
    volumes_->add(card("Caf\u00E9"));
    volumes_->add({.path = "/home", .name = "home", .internal = true});
    AppModel& model = start();
    EXPECT_EQ(model.destPath(), media("Caf\u00E9").string());
    ASSERT_EQ(model.volumes().size(), 2U);  // the root is no volume
    model.setDestPath(media("Cafe\u0301").string());
    settled();
    ASSERT_NE(model.destinationVolume(), nullptr);
    EXPECT_EQ(model.destinationVolume()->name, "Caf\u00E9");

    model.setDestPath("");
    volumes_->mount(card("B"));  // two cards: neither is chosen
    settled();
    EXPECT_EQ(model.destPath(), "");
}

TEST_F(AppModelVolumesTest, AnExistingFolderStaysADeletedOneOrAnEmptyMountFolderIsCleared) {
    const auto folder = temp_ / "Export";
    std::filesystem::create_directories(folder);
    setDest(folder.string());
    AppModel& model = start();
    EXPECT_EQ(model.destPath(), folder.string());
    std::filesystem::remove(folder);
    model.refreshVolumes();
    settled();
    EXPECT_EQ(model.destPath(), "");

    volumes_->mount(card("A"));
    volumes_->mount(card("B"));
    const std::string a = media("A").string(), b = media("B").string();
    model.setDestPath(a);
    settled();
    volumes_->unmount(a);  // the folder stays, as a static mount folder does
    settled();
    EXPECT_EQ(model.destPath(), b);  // now the only card

    // The same for a card pulled while the program was closed.
    model_.reset();
    volumes_->unmount(b);
    EXPECT_EQ(start().destPath(), "");
}

// A card mounted or chosen while the send window or a run writes to it is
// left alone; once both are done it is cleaned (what a clean does is the
// card tools' test) and the notice says so.
TEST_F(AppModelVolumesTest, NoCleaningWhileSendingOrExportingToTheCard) {
    AppModel& model = start();
    model.setAutoCleanSD(true);
    FixtureVolumes::Mounted fresh = card("CARD");
    writeFile(fresh.path / ".DS_Store", "x");
    volumes_->listAsCard(fresh.path);
    model.setSendingToCard(true);
    volumes_->mount(fresh);
    settled();
    model.setSendingToCard(false);
    AppModelTesting::setState(model, RunState::running());
    model.setDestPath(fresh.path.string());
    model.autoCleanIfNeeded(fresh.path);
    EXPECT_FALSE(
        waitUntil([&] { return model.cleanNotice().has_value(); }, std::chrono::milliseconds(300)));
    EXPECT_TRUE(std::filesystem::exists(fresh.path / ".DS_Store"));

    AppModelTesting::setState(model, RunState::idle());
    model.autoCleanIfNeeded(fresh.path);
    ASSERT_TRUE(waitUntil([&] { return model.cleanNotice().has_value(); }));
    EXPECT_EQ(*model.cleanNotice(),
              "SD カード「CARD」を掃除しました（隠しファイル 1 個、名前の修正 0 "
              "個）。このままカーナビに差して大丈夫です。");
    EXPECT_FALSE(std::filesystem::exists(fresh.path / ".DS_Store"));
}

// The drive that holds the music folder is removable and FAT like a card,
// with names a card's cleaning would rename and hidden files it would remove:
// the program neither cleans it nor takes it as the destination, also when it
// comes back at another mount point (its old folder left behind). A card
// beside it is still cleaned and chosen; the user may still choose the drive.
TEST_F(AppModelVolumesTest, TheMusicDriveIsNeverCleanedOrChosenByItself) {
    FixtureVolumes::Mounted drive = card("USB");
    drive.fileSystemId = "4A1B-2C3D";
    const std::map<std::string, std::string> songs = {{"Music/방탄소년단/화양연화 ♥/01.flac", "1"},
                                                      {"Music/Café/〜 Intro.mp3", "2"},
                                                      {"Music/._Café", "3"},
                                                      {"._USB", "4"},
                                                      {".DS_Store", "5"}};
    testing::writeFiles(drive.path, songs);
    xdg_.settings()->setString("srcPath", (drive.path / "Music").string());
    xdg_.settings()->setBoolean("autoCleanSD", true);
    AppModel& model = start();
    std::vector<std::string> notices;
    QObject::connect(&model, &AppModel::cleanNoticeChanged, [&] {
        if (model.cleanNotice()) notices.push_back(*model.cleanNotice());
    });
    const auto cardMounts = [&](const std::string& name) {
        FixtureVolumes::Mounted fresh = card(name);
        writeFile(fresh.path / ".DS_Store", "x");
        volumes_->listAsCard(fresh.path);
        volumes_->mount(fresh);
        ASSERT_TRUE(waitUntil([&] { return !notices.empty(); }));
        // A cleaning of the drive, wrongly begun first, would have told by now.
        EXPECT_FALSE(waitUntil([&] { return notices.size() > 1; }, std::chrono::milliseconds(300)));
        EXPECT_EQ(notices,
                  std::vector<std::string>{"SD カード「" + name +
                                           "」を掃除しました（隠しファイル 1 個、名前の修正 "
                                           "0 個）。このままカーナビに差して大丈夫です。"});
        EXPECT_EQ(model.destPath(), fresh.path.string());
        notices.clear();
    };

    volumes_->listAsCard(drive.path);
    volumes_->mount(drive);
    settled();
    EXPECT_EQ(model.destPath(), "");  // the only removable volume, yet no card
    cardMounts("CARD");
    EXPECT_EQ(testing::filesBelow(drive.path), songs);
    model.setDestPath(drive.path.string());  // by hand
    model.refreshVolumes();
    settled();
    EXPECT_EQ(model.destPath(), drive.path.string());

    // Pulled with the card; back at USB1, the folder USB left behind.
    model.setDestPath("");
    volumes_->unmount(media("CARD"));
    volumes_->unmount(drive.path);
    std::filesystem::rename(drive.path, media("USB1"));
    std::filesystem::create_directories(drive.path);
    drive.path = media("USB1");
    volumes_->listAsCard(drive.path);
    volumes_->mount(drive);
    settled();
    EXPECT_EQ(model.destPath(), "");
    cardMounts("CARD2");
    EXPECT_EQ(testing::filesBelow(drive.path), songs);
}

// An artist of the library is a link onto a drive that is mounted only now:
// before the mount the link led nowhere, so the drive is judged by the music
// folder's first look after the mount. It is neither cleaned nor chosen; a
// card beside it is.
TEST_F(AppModelVolumesTest, ADriveAnArtistLinksOntoIsKnownByTheLookAfterItsMount) {
    const auto music = temp_ / "home" / "Music";
    std::filesystem::create_directories(music / "Local" / "Album");
    std::filesystem::create_directory_symlink(media("USB") / "Linked", music / "Linked");
    xdg_.settings()->setString("srcPath", music.string());
    xdg_.settings()->setBoolean("autoCleanSD", true);
    AppModel& model = start();
    std::vector<std::string> notices;
    QObject::connect(&model, &AppModel::cleanNoticeChanged, [&] {
        if (model.cleanNotice()) notices.push_back(*model.cleanNotice());
    });
    waitUntil([] { return false; }, std::chrono::milliseconds(300));  // the start's look is done

    const std::map<std::string, std::string> songs = {
        {"Linked/Album/01.mp3", "1"}, {"Linked/._01.mp3", "2"}, {".DS_Store", "3"}};
    testing::writeFiles(media("USB"), songs);
    const FixtureVolumes::Mounted drive = FixtureVolumes::card(media("USB"));
    volumes_->listAsCard(drive.path);
    volumes_->mount(drive);
    const FixtureVolumes::Mounted fresh = card("CARD");
    writeFile(fresh.path / ".DS_Store", "x");
    volumes_->listAsCard(fresh.path);
    volumes_->mount(fresh);

    ASSERT_TRUE(waitUntil([&] { return !notices.empty(); }));
    EXPECT_FALSE(waitUntil([&] { return notices.size() > 1; }, std::chrono::milliseconds(300)));
    EXPECT_EQ(notices, std::vector<std::string>{
                           "SD カード「CARD」を掃除しました（隠しファイル 1 "
                           "個、名前の修正 0 個）。このままカーナビに差して大丈夫です。"});
    EXPECT_EQ(testing::filesBelow(drive.path), songs);
    EXPECT_EQ(model.destPath(), fresh.path.string());
    EXPECT_TRUE(model.holdsMusicLibrary(drive.path));
}

// Ejecting, or going on with the next card, takes the card out and picks the
// next one; a plain folder is never ejected, and going on forgets it.
TEST_F(AppModelVolumesTest, EjectAndTheNextCardPickTheNextCardOrSayWhyNot) {
    for (const char* name : {"A", "B", "C"}) volumes_->add(card(name));
    const auto folder = temp_ / "Export";
    std::filesystem::create_directories(folder);
    setDest(folder.string());
    AppModel& model = start();
    model.ejectCard();
    QCoreApplication::processEvents();
    EXPECT_EQ(model.destPath(), folder.string());
    model.continueOnNextCard();
    EXPECT_TRUE(model.continuing());
    EXPECT_EQ(model.destPath(), "");
    EXPECT_TRUE(volumes_->ejected().empty());

    model.setDestPath(media("A").string());
    settled();
    model.ejectCard();
    ASSERT_TRUE(waitUntil([&] { return model.destPath() != media("A").string(); }));
    settled();
    model.setDestPath(media("C").string());
    settled();
    model.continueOnNextCard();
    ASSERT_TRUE(waitUntil([&] { return model.destPath() != media("C").string(); }));
    settled();
    EXPECT_EQ(volumes_->ejected(), (std::vector<std::filesystem::path>{media("A"), media("C")}));
    EXPECT_EQ(model.destPath(), media("B").string());  // now the only card
    EXPECT_EQ(model.ejectError(), std::nullopt);

    // A refusal is reported and keeps the destination.
    volumes_->refuseEject(media("B"), "target is busy");
    model.ejectVolume(media("B"));
    model.ejectVolume(media("B"));  // a second press while the first runs does nothing
    ASSERT_TRUE(waitUntil([&] { return model.ejectError().has_value(); }));
    EXPECT_EQ(*model.ejectError(), "取り出せません: B（target is busy）");
    EXPECT_EQ(model.destPath(), media("B").string());
    EXPECT_EQ(volumes_->ejected().size(), 3U);

    // The model going (the program quitting) stops an eject under way and waits for it.
    std::atomic<int> eject = 0;  // 1: waiting on the system, 2: stopped and returned
    volumes_->duringEject = [&](std::stop_token stop) {
        eject = 1;
        for (int i = 0; i < 10'000 && !stop.stop_requested(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        eject = stop.stop_requested() ? 2 : 3;
    };
    model.ejectVolume(media("B"));
    ASSERT_TRUE(waitUntil([&] { return eject == 1; }));
    model_.reset();
    EXPECT_EQ(eject, 2);
}

// An eject that may not or cannot begin still answers its asker, and nothing
// is written onto a card while it is being ejected.
TEST_F(AppModelVolumesTest, AnEjectAlwaysAnswersAndNeverRunsUnderASend) {
    for (const char* name : {"A", "B"}) volumes_->add(card(name));
    AppModel& model = start();
    std::vector<std::optional<std::string>> told;
    const auto tell = [&](const std::optional<std::string>& failure) { told.push_back(failure); };
    model.setSendingToCard(true, media("A"));
    model.ejectVolume(media("A"), tell);
    model.ejectCard();  // the main window's eject of the same card
    model.setDestPath(media("A").string());
    model.ejectCard();
    EXPECT_EQ(model.ejectError(), "取り出せません: A（SD カードへ送っている最中です）");
    ASSERT_EQ(told.size(), 1U);
    EXPECT_EQ(told[0], "取り出せません: A（SD カードへ送っている最中です）");
    model.setSendingToCard(false);

    std::atomic<bool> release = false;
    volumes_->duringEject = [&](std::stop_token) {
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    int changes = 0;
    QObject::connect(&model, &AppModel::ejectingChanged, [&] { ++changes; });
    model.ejectVolume(media("B"), tell);
    EXPECT_TRUE(model.isEjecting(media("B")));
    EXPECT_FALSE(model.isEjecting(media("A")));
    release = true;
    ASSERT_TRUE(waitUntil([&] { return told.size() == 2; }));
    EXPECT_EQ(told[1], std::nullopt);
    EXPECT_FALSE(model.isEjecting(media("B")));
    EXPECT_EQ(changes, 2);

    // Without a volume service the asker hears why, instead of waiting for good.
    model_.reset();
    AppModel::Services services = AppModelTesting::services(xdg_);
    AppModel bare(std::move(services));
    bare.ejectVolume(media("A"), tell);
    ASSERT_EQ(told.size(), 3U);
    EXPECT_EQ(told[2], "取り出せません: A（取り出す仕組みが使えません）");
}

// An eject the system holds past the model's going (a quit while UDisks2
// does not answer) keeps nothing of the model's services: the volume service
// owns a watcher of the window's thread, which must go there, with the model.
TEST_F(AppModelVolumesTest, AnEjectHeldPastTheModelKeepsNoVolumeService) {
    volumes_->add(card("A"));
    AppModel& model = start();
    // Shared with the eject's thread, which outlives the model.
    auto release = std::make_shared<std::atomic<bool>>(false);
    volumes_->duringEject = [release](std::stop_token) {
        // Heeds no stop, as a call into the system does not.
        for (int i = 0; i < 2'000 && !*release; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    };
    model.ejectVolume(media("A"));
    DetachedTask::endingBy(std::chrono::steady_clock::now() + std::chrono::milliseconds(200));
    model_.reset();
    DetachedTask::endingBy(std::chrono::steady_clock::time_point::max());
    const std::weak_ptr<FixtureVolumes> service = volumes_;
    volumes_.reset();
    EXPECT_TRUE(service.expired());
    *release = true;
    EXPECT_TRUE(waitUntil([] { return DetachedTask::running() == 0; }, std::chrono::seconds(20)));
}

}  // namespace
}  // namespace tarvik
