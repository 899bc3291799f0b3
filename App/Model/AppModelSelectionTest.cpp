#include <gtest/gtest.h>

#include <QElapsedTimer>

#include "App/Model/AppModel.hpp"
#include "App/Model/AppModelTesting.hpp"
#include "App/Testing/FuseDaemon.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/CardImage.hpp"

namespace tarvik {
namespace {

using testing::waitUntil;
using testing::writeFile;
using namespace std::chrono_literals;

const std::string artistNotice =
    "「Artist A」のフォルダを選んだので、音楽のフォルダは 1 つ上にして「Artist "
    "A」だけを選びました。";

using Library = testing::SmallLibrary;

// An album folder is chosen where the widgets are tested.
TEST(AppModelSelectionTest, ChoosingAFolderSetsTheMusicFolderSelectionAndNotice) {
    // chosen below the library's parent, ticked before, ticked after, notice
    using Ticks = std::set<std::string>;
    const std::vector<std::tuple<std::string, Ticks, Ticks, std::optional<std::string>>> cases = {
        {"Music/Artist A", {"Artist B/Album Y"}, {"Artist A"}, artistNotice},
        {"Music", {"Artist B/Album Y", "Artist Z"}, {"Artist B/Album Y"}, {}},
    };
    for (const auto& [chosen, before, selected, notice] : cases) {
        SCOPED_TRACE(chosen);
        Library library;
        AppModel model(AppModelTesting::services(library.xdg));
        ASSERT_TRUE(testing::settle(model));
        model.setSelected(before);

        model.chooseSource(library.music.parent_path() / chosen);
        ASSERT_TRUE(testing::settle(model));

        EXPECT_EQ(model.srcPath(), library.music.string());
        EXPECT_EQ(model.artists(), (std::vector<std::string>{"Artist A", "Artist B"}));
        EXPECT_EQ(model.selected(), selected);
        EXPECT_EQ(library.storedSelection(),
                  std::vector<std::string>(selected.begin(), selected.end()));
        EXPECT_EQ(model.sourceNotice(), notice);
        // Choosing the library after an artist's folder takes the notice away
        // (so does any change of the selection: the music step's test).
        model.chooseSource(library.music / "Artist A");
        model.chooseSource(library.music);
        ASSERT_TRUE(testing::settle(model));
        EXPECT_EQ(model.sourceNotice(), std::nullopt);
    }
}

// Kept while the music folder can't be listed; pruned once it can.
TEST(AppModelSelectionTest, TheSelectionIsKeptUntilTheMusicFolderCanBeListed) {
    Library library;
    const auto moved = library.music.parent_path() / "Elsewhere";
    const std::vector<std::string> stored = {"Artist A", "Artist B/Album Y", "Gone"};
    library.xdg.settings()->setStringList("selected", stored);
    std::filesystem::rename(library.music, moved);
    for (const auto& srcPath :
         {std::filesystem::path(), moved / "Artist A/Album X/01.flac", library.music}) {
        SCOPED_TRACE(srcPath);
        library.xdg.settings()->setString("srcPath", srcPath.string());
        AppModel model(AppModelTesting::services(library.xdg));
        model.reloadArtists();
        ASSERT_TRUE(testing::settle(model));
        EXPECT_TRUE(model.artists().empty());
        EXPECT_EQ(model.selected().size(), 3u);
        EXPECT_EQ(library.storedSelection(), stored);
    }
    auto volumes = std::make_shared<testing::FixtureVolumes>();
    AppModel::Services services = AppModelTesting::services(library.xdg);
    services.volumes = volumes;
    AppModel model(std::move(services));
    ASSERT_TRUE(testing::settle(model));
    // The drive of the music folder is mounted after the start.
    std::filesystem::rename(moved, library.music);
    volumes->mount(testing::FixtureVolumes::card(library.music.parent_path()));
    ASSERT_TRUE(testing::settle(model));
    EXPECT_EQ(model.artists().size(), 2u);
    EXPECT_EQ(model.selected(), (std::set<std::string>{"Artist A", "Artist B/Album Y"}));
    EXPECT_EQ(library.storedSelection(),
              (std::vector<std::string>{"Artist A", "Artist B/Album Y"}));
}

TEST(AppModelSelectionTest, SelectionAndFilterMatchByCanonicalEquivalenceTrimmedAndCaseless) {
    Library library;
    writeFile(library.music / "Beyonce\u0301" / "Album" / "01.mp3", "");  // decomposed on disk
    for (const char* name : {"Upbeat", "BEATS", "Be At"})
        std::filesystem::create_directories(library.music / name);
    library.xdg.settings()->setString("srcPath", library.music.string());
    library.xdg.settings()->setStringList("selected", {"Beyonc\u00e9/Album", "Beyonce\u0301"});
    AppModel model(AppModelTesting::services(library.xdg));
    ASSERT_TRUE(testing::settle(model));
    EXPECT_EQ(model.selected().size(), 2u);

    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {" beat\t", {"BEATS", "Upbeat"}},
        {"\u3000BEAT\u3000", {"BEATS", "Upbeat"}},
        {"   ", {"Artist A", "Artist B", "Be At", "BEATS", "Beyonc\u00e9", "Upbeat"}},
        {"beyonce\u0301", {"Beyonc\u00e9"}},
        {"beat\n", {}},  // line breaks are not blanks here
    };
    for (const auto& [search, shown] : cases) {
        SCOPED_TRACE(search);
        model.setSearch(search);
        EXPECT_EQ(model.filteredArtists(), shown);
    }
}

// A music folder that goes away (deleted, or its drive pulled) is not an
// empty library: its ticks wait for its return, none of them counts, and
// nothing is planned from it. The end of a run, the window's return to the
// front or a mount finds it gone; its return brings everything back.
TEST(AppModelSelectionTest, AMusicFolderThatGoesIsMissingUntilItComesBack) {
    Library library;
    auto volumes = std::make_shared<testing::FixtureVolumes>();
    AppModel::Services services = AppModelTesting::services(library.xdg);
    services.volumes = volumes;
    services.locateFFmpeg = [] { return std::optional<std::filesystem::path>("/usr/bin/ffmpeg"); };
    AppModel model(std::move(services));
    model.chooseSource(library.music);
    ASSERT_TRUE(testing::settle(model));
    model.setSelected({"Artist A", "Artist B/Album Y"});
    const std::vector<std::string> stored = library.storedSelection();
    const auto moved = library.music.parent_path() / "Elsewhere";
    const std::vector<std::pair<std::string, std::function<void()>>> noticing = {
        {"run",
         [&] {
             AppModelTesting::setState(model, RunState::running());
             model.handleEvent(
                 ConversionEvent::finished({.progress = {},
                                            .stopped = true,
                                            .cardFull = false,
                                            .renamed = 0,
                                            .placed = {},
                                            .halt = ConversionEvent::Halt::musicFolderLost}));
         }},
        {"window", [&] { model.recheckFolders(); }},
        {"mount", [&] { volumes->mount(testing::FixtureVolumes::card("/media/u/OTHER")); }},
    };
    for (const auto& [how, notice] : noticing) {
        SCOPED_TRACE(how);
        ASSERT_TRUE(model.hasSelection());
        std::filesystem::rename(library.music, moved);
        notice();
        ASSERT_TRUE(testing::settle(model));
        EXPECT_TRUE(model.musicFolderMissing());
        EXPECT_TRUE(model.artists().empty());
        EXPECT_FALSE(model.hasSelection());
        EXPECT_EQ(model.selected().size(), 2U);
        EXPECT_EQ(library.storedSelection(), stored);
        try {
            model.makeRunner(true);
            ADD_FAILURE() << "planned from a missing music folder";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.what(), ConversionRunner::musicFolderLostMessage);
        }
        std::filesystem::rename(moved, library.music);
        model.recheckFolders();
        ASSERT_TRUE(testing::settle(model));
        EXPECT_FALSE(model.musicFolderMissing());
        EXPECT_EQ(model.artists().size(), 2U);
        EXPECT_TRUE(model.hasSelection());
    }
}

// Two artist folders named in Shift-JIS (a library from an older system) are
// two rows with two ticks: each key is its folder's bytes, stored in a text
// that reads back to the same bytes after a restart.
TEST(AppModelSelectionTest, NamesThatAreNotUTF8KeepTheirOwnTickAcrossARestart) {
    Library library;
    const std::string test = "\x83\x65\x83\x58\x83\x67lib";  // テストlib
    const std::string cafe = "Caf\xE9 lib";                  // Latin-1
    std::filesystem::create_directories(library.music / test / "Album");
    std::filesystem::create_directories(library.music / cafe / "Album");
    library.xdg.settings()->setString("srcPath", library.music.string());
    {
        AppModel model(AppModelTesting::services(library.xdg));
        ASSERT_TRUE(testing::settle(model));
        EXPECT_EQ(model.artists().size(), 4U);
        model.setSelected({test, "Artist A"});
    }
    EXPECT_EQ(library.storedSelection(),
              (std::vector<std::string>{"Artist A", "/%83e%83X%83glib"}));
    AppModel model(AppModelTesting::services(library.xdg));
    ASSERT_TRUE(testing::settle(model));
    EXPECT_EQ(model.selected(), (std::set<std::string>{test, "Artist A"}));
    model.setSearch("テスト");
    EXPECT_EQ(model.filteredArtists(), std::vector<std::string>{test});
}

TEST(AppModelSelectionTest, DestinationNamedLikeAnArtistIsNoticed) {
    Library library;
    std::filesystem::create_directories(library.music / "Moon Garden");
    std::filesystem::create_directories(library.music / "MOON\u3000GLOW");
    const std::string base = library.music.parent_path().string();
    // destination, ticked, a listed volume, looks like an artist's folder
    const std::vector<std::tuple<std::string, std::set<std::string>, bool, bool>> cases = {
        {"", {}, false, false},
        {base + "/\u3000 ", {}, false, false},
        {base + "/moonglow/", {}, false, true},
        {base + "/Moon Garden", {}, true, false},  // a listed volume, whatever its name
        {base + "/solo act", {"Solo Act"}, false, true},
        {base + "/Album Y", {"Artist B/Album Y"}, false, false},
    };
    for (const auto& [destPath, selected, volume, looksLikeArtist] : cases) {
        SCOPED_TRACE(destPath);
        AppModel model(AppModelTesting::services(library.xdg));
        model.chooseSource(library.music);
        ASSERT_TRUE(testing::settle(model));
        model.setSelected(selected);
        model.setDestPath(destPath);
        if (volume) AppModelTesting::setVolumes(model, {Volume{destPath, "SD", 0, true}});
        EXPECT_EQ(model.destinationLooksLikeArtistFolder(), looksLikeArtist);
    }
}

// The music folder's file system stops answering (its FUSE daemon stopped):
// the folder shows as missing with its ticks kept, nothing the window asks
// meanwhile waits on it, and once it answers everything is back.
TEST(AppModelSelectionTest, AMusicFolderWhoseFileSystemStopsAnsweringIsMissingAndNotWaitedOn) {
    std::string whyNot;
    const auto card = testing::CardImage::make(8 << 20, whyNot);
    if (!card) GTEST_SKIP() << "no real FUSE card: " << whyNot;
    const std::filesystem::path music = card->root() / "Music";
    std::filesystem::create_directories(music / "Artist A" / "Album X");
    std::filesystem::create_directories(music / "Artist B");
    testing::ScopedXdg xdg;
    xdg.settings()->setString("srcPath", music.string());
    xdg.settings()->setStringList("selected", {"Artist A"});
    AppModel model(AppModelTesting::services(xdg));
    ASSERT_TRUE(testing::settle(model));
    ASSERT_EQ(model.artists().size(), 2U);
    const std::optional<pid_t> daemon = testing::fuseDaemonServing(card->root());
    ASSERT_TRUE(daemon);
    {
        const testing::StoppedDaemon stopped(*daemon, 10s);
        ASSERT_TRUE(stopped.stopped());
        ASSERT_TRUE(waitUntil([&] { return model.musicFolderMissing(); }, 6s));
        EXPECT_FALSE(model.hasSelection());
        QElapsedTimer asked;
        asked.start();
        model.recheckFolders();
        model.handleVolumeChange(std::nullopt);
        EXPECT_LT(asked.elapsed(), 1000);  // the drive holds for ten seconds
        EXPECT_TRUE(model.musicFolderMissing());
        EXPECT_EQ(model.selected(), std::set<std::string>{"Artist A"});
    }
    ASSERT_TRUE(waitUntil([&] { return !model.musicFolderMissing(); }, 4s));
    EXPECT_EQ(model.artists().size(), 2U);
    EXPECT_TRUE(model.hasSelection());
    EXPECT_EQ(xdg.settings()->stringList("selected"), std::vector<std::string>{"Artist A"});
}

// The volume the music folder was last seen on is kept across starts: a drive
// that is out when the program starts, its mount folder left empty, is
// missing with its ticks kept; a folder chosen by hand is there wherever it
// sits.
TEST(AppModelSelectionTest, AMusicDriveOutAtTheStartIsMissingUntilTheFolderIsChosenAgain) {
    Library library;
    auto volumes = std::make_shared<testing::FixtureVolumes>();
    volumes->add(testing::FixtureVolumes::card(library.music));
    library.xdg.settings()->setString("srcPath", library.music.string());
    library.xdg.settings()->setStringList("selected", {"Artist A"});
    const auto start = [&] {
        AppModel::Services services = AppModelTesting::services(library.xdg);
        services.volumes = volumes;
        auto model = std::make_unique<AppModel>(std::move(services));
        EXPECT_TRUE(testing::settle(*model));
        return model;
    };
    EXPECT_FALSE(start()->musicFolderMissing());
    volumes->unmount(library.music);
    const auto drive = library.music.parent_path() / "drive";
    std::filesystem::rename(library.music, drive);
    std::filesystem::create_directory(library.music);

    const auto model = start();
    EXPECT_TRUE(model->musicFolderMissing());
    EXPECT_EQ(library.storedSelection(), std::vector<std::string>{"Artist A"});
    model->chooseSource(library.music);
    ASSERT_TRUE(testing::settle(*model));
    EXPECT_FALSE(model->musicFolderMissing());
    EXPECT_TRUE(model->selected().empty());
}

// The first start after an upgrade: the settings keep ticks but no record of
// where the music folder was seen, and its drive is mounted only after the
// start. The drive's empty mount folder is no empty library: the ticks wait
// for the drive, and are kept against its real folders once it is there,
// where the folder is then recorded as seen. A folder chosen by hand is the
// library however empty it is.
TEST(AppModelSelectionTest, AnUpgradedStartKeepsItsTicksUntilTheDriveIsMounted) {
    testing::TempDir media;
    const std::filesystem::path point = media / "MUSIC";
    const std::filesystem::path unplugged = media / "drive";
    for (const char* artist : {"Aurora", "Borealis", "Comet"})
        std::filesystem::create_directories(unplugged / artist / "Album");
    std::filesystem::create_directories(point);  // a fixed mount point, left empty
    testing::ScopedXdg xdg;
    const std::vector<std::string> ticks = {"Aurora", "Comet", "Gone Band"};
    xdg.settings()->setString("srcPath", point.string());
    xdg.settings()->setStringList("selected", ticks);
    auto volumes = std::make_shared<testing::FixtureVolumes>();
    AppModel::Services services = AppModelTesting::services(xdg);
    services.volumes = volumes;
    AppModel model(std::move(services));
    ASSERT_TRUE(testing::settle(model));
    EXPECT_TRUE(model.musicFolderMissing());
    EXPECT_FALSE(model.hasSelection());
    EXPECT_EQ(xdg.settings()->stringList("selected"), ticks);

    std::filesystem::remove(point);
    std::filesystem::rename(unplugged, point);
    volumes->mount(testing::FixtureVolumes::card(point));
    ASSERT_TRUE(testing::settle(model));
    EXPECT_FALSE(model.musicFolderMissing());
    EXPECT_EQ(model.artists().size(), 3U);
    EXPECT_EQ(model.selected(), (std::set<std::string>{"Aurora", "Comet"}));
    EXPECT_EQ(xdg.settings()->stringList("selected"),
              (std::vector<std::string>{"Aurora", "Comet"}));
    EXPECT_EQ(xdg.settings()->stringList("srcVolume"),
              (std::vector<std::string>{point.string(), point.string(), ""}));

    testing::TempDir empty;
    model.chooseSource(empty.path());
    ASSERT_TRUE(testing::settle(model));
    EXPECT_FALSE(model.musicFolderMissing());
    EXPECT_TRUE(model.artists().empty());
}

// Another drive mounted where the music drive was (the same label, so the
// same mount point) is not the library, whatever folders it has: the music
// folder counts as missing with its ticks kept, and its own drive brings
// them back.
TEST(AppModelSelectionTest, AnotherDriveWhereTheMusicDriveWasIsNotTheLibrary) {
    Library library;
    auto volumes = std::make_shared<testing::FixtureVolumes>();
    const auto drive = [&](const char* id) {
        auto mounted = testing::FixtureVolumes::card(library.music);
        mounted.fileSystemId = id;
        return mounted;
    };
    volumes->add(drive("4A1B-2C3D"));
    library.xdg.settings()->setString("srcPath", library.music.string());
    library.xdg.settings()->setStringList("selected", {"Artist A"});
    AppModel::Services services = AppModelTesting::services(library.xdg);
    services.volumes = volumes;
    AppModel model(std::move(services));
    ASSERT_TRUE(testing::settle(model));
    ASSERT_EQ(model.artists().size(), 2U);
    const auto swap = [&](const std::filesystem::path& out, const std::filesystem::path& in,
                          const char* id) {
        volumes->unmount(library.music);
        std::filesystem::rename(library.music, out);
        std::filesystem::rename(in, library.music);
        volumes->mount(drive(id));
        ASSERT_TRUE(testing::settle(model));
    };
    const auto music = library.music.parent_path() / "music drive";
    const auto other = library.music.parent_path() / "other drive";
    writeFile(other / "Stranger" / "Album" / "01.mp3", "");

    swap(music, other, "0000-0001");
    EXPECT_TRUE(model.musicFolderMissing());
    EXPECT_FALSE(model.hasSelection());
    EXPECT_EQ(model.selected(), std::set<std::string>{"Artist A"});
    EXPECT_EQ(library.storedSelection(), std::vector<std::string>{"Artist A"});

    swap(other, music, "4A1B-2C3D");
    EXPECT_FALSE(model.musicFolderMissing());
    EXPECT_EQ(model.artists().size(), 2U);
    EXPECT_TRUE(model.hasSelection());
}

}  // namespace
}  // namespace tarvik
