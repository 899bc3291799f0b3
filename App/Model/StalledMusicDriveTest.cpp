// The music folder on a real FUSE drive whose daemon is stopped for ten
// seconds (a USB disk spinning up, a share that dropped), the volumes read
// from the machine's own mount table: nothing the window does meanwhile
// waits on the drive. A call into it on the window's thread would hold the
// event loop for the whole stop; the limits are generous beside that, so
// that only that fault, never a loaded machine, exceeds them.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QElapsedTimer>
#include <cstdio>
#include <fstream>
#include <mutex>

#include "App/Model/AppModelTesting.hpp"
#include "App/Model/ExportTesting.hpp"
#include "App/Platform/LinuxVolumes.hpp"
#include "App/Testing/FuseDaemon.hpp"
#include "App/Testing/LoopGaps.hpp"
#include "Core/Platform/DetachedTask.hpp"
#include "Core/Testing/CardImage.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::waitUntil;

// What /sys and udev say of the cards the test mounts: each a removable disk
// formatted exFAT, as a card in a reader is; every other mount of the
// machine is no card.
class CardFacts {
public:
    SystemVolumeFacts::Places places() const {
        return {.mountInfo = "/proc/self/mountinfo",
                .blockDevices = temp_ / "sys" / "dev" / "block",
                .udevData = temp_ / "udev"};
    }
    // Tells the disk mounted at `root` as such a card.
    void removable(const fs::path& root) const {
        for (const MountEntry& mount :
             SystemVolumeFacts{}.mounts().value_or(std::vector<MountEntry>{})) {
            if (mount.mountPoint != root) continue;
            const std::string device =
                std::to_string(mount.major) + ":" + std::to_string(mount.minor);
            const fs::path disk = temp_ / "sys" / "devices" / ("disk" + device);
            testing::writeFile(disk / "removable", "1\n");
            fs::create_directories(temp_ / "sys" / "dev" / "block");
            fs::create_directory_symlink(disk, temp_ / "sys" / "dev" / "block" / device);
            testing::writeFile(temp_ / "udev" / ("b" + device), "E:ID_FS_TYPE=exfat\n");
            return;
        }
        ADD_FAILURE() << "not mounted: " << root;
    }

private:
    testing::TempDir temp_;
};

// Prints a figure the report quotes: how long the window waited for an answer.
void tell(const char* what, qint64 milliseconds) {
    std::fprintf(stderr, "[ measured ] %s: %lld ms\n", what, static_cast<long long>(milliseconds));
}

TEST(StalledMusicDriveTest, NothingTheWindowDoesWaitsOnAStoppedMusicDrive) {
    std::string whyNot;
    const auto drive = testing::FuseMusicDrive::make({"Artist A", "Artist B"}, whyNot);
    if (!drive) GTEST_SKIP() << "no real FUSE card: " << whyNot;
    const fs::path music = drive->music;
    testing::TempDir local;
    fs::create_directories(local / "Local Artist" / "Album");
    const CardFacts facts;
    facts.removable(drive->card->root());
    testing::ScopedXdg xdg;
    xdg.settings()->setString("srcPath", music.string());
    xdg.settings()->setStringList("selected", {"Artist A"});
    xdg.settings()->setBoolean("autoCleanSD", true);
    AppModel::Services services = AppModelTesting::services(xdg);
    services.volumes =
        std::make_shared<LinuxVolumes>(facts.places(), QDBusConnection(QStringLiteral("none")));
    auto model = std::make_unique<AppModel>(std::move(services));
    ASSERT_TRUE(testing::settle(*model));
    ASSERT_EQ(model->artists().size(), 2U);
    EXPECT_EQ(model->destPath(), "");  // the music drive looks like a card, and is none

    std::unique_ptr<testing::CardImage> card;
    {
        const testing::LoopGaps gaps;
        const testing::StoppedDaemon stopped(drive->daemon, 10s);
        ASSERT_TRUE(stopped.stopped());
        QElapsedTimer clock;
        clock.start();
        // Back at the front: the folders are asked about anew, on workers.
        model->recheckFolders();
        // A start meanwhile shows its window at once, the folder being checked.
        {
            AppModel::Services again = AppModelTesting::services(xdg);
            again.volumes = std::make_shared<LinuxVolumes>(facts.places(),
                                                           QDBusConnection(QStringLiteral("none")));
            clock.restart();
            AppModel started(std::move(again));
            tell("a start with the drive stopped built its model in", clock.elapsed());
            EXPECT_LT(clock.elapsed(), 1000);
            EXPECT_TRUE(started.musicFolderChecking());
            EXPECT_TRUE(waitUntil([&] { return started.musicFolderMissing(); }, 8s));
            EXPECT_EQ(started.selected(), std::set<std::string>{"Artist A"});
            DetachedTask::endingBy(std::chrono::steady_clock::now() + 800ms);
        }
        DetachedTask::endingBy(std::chrono::steady_clock::time_point::max());
        // A card put in: listed, chosen and cleaned beside the stalled drive.
        card = testing::CardImage::make(8 << 20, whyNot, "CARD");
        ASSERT_TRUE(card) << whyNot;
        facts.removable(card->root());
        testing::writeFile(card->root() / ".DS_Store", "x");
        clock.restart();
        EXPECT_TRUE(waitUntil(
            [&] {
                return model->destPath() == card->root().string() &&
                       model->cleanNotice().has_value();
            },
            8s));
        tell("a card put in beside the stopped drive is chosen and cleaned after", clock.elapsed());
        EXPECT_FALSE(fs::exists(card->root() / ".DS_Store"));
        EXPECT_TRUE(model->musicFolderMissing());
        EXPECT_EQ(model->selected(), std::set<std::string>{"Artist A"});
        // The start asks too, and the missing folder starts nothing.
        clock.restart();
        model->startWhenChecked();
        EXPECT_TRUE(waitUntil([&] { return !model->startWaits(); }, 8s));
        tell("the start's check with the drive stopped ends after", clock.elapsed());
        EXPECT_TRUE(model->state().is(RunState::Case::idle));
        // A local folder chosen meanwhile is looked at at once.
        clock.restart();
        model->chooseSource(local.path());
        EXPECT_TRUE(waitUntil(
            [&] { return model->artists() == std::vector<std::string>{"Local Artist"}; }, 8s));
        tell("a local folder chosen meanwhile shows its artists after", clock.elapsed());
        EXPECT_LE(gaps.longest(), 1s);
        tell("the event loop's longest pause", gaps.longest().count());

        // The model goes as at a quit: what the drive holds is left behind.
        DetachedTask::endingBy(std::chrono::steady_clock::now() + 800ms);
        clock.restart();
        model.reset();
        EXPECT_LT(clock.elapsed(), 2000);
        tell("the model went, leaving the held workers, after", clock.elapsed());
        DetachedTask::endingBy(std::chrono::steady_clock::time_point::max());
    }
    // Answered at last: what was left behind ends before the drives go.
    EXPECT_TRUE(waitUntil([] { return DetachedTask::running() == 0; }, 20s));
}

// A run whose music folder stops answering while a song is read from it is
// halted as one whose folder went: the same failed line and ending, the
// songs it told of whole on the card and no others counted, the window never
// held meanwhile. Its threads, held by the drive, are left to end later.
class StalledRunTest : public testing::ExportTest {};

TEST_F(StalledRunTest, ARunWhoseMusicFolderStopsAnsweringEndsAsIfItWent) {
    std::string whyNot;
    const auto drive = testing::CardImage::make(32 << 20, whyNot, "MUSIC");
    if (!drive) GTEST_SKIP() << "no real FUSE card: " << whyNot;
    const fs::path music = drive->root() / "Music";
    std::vector<testing::LibraryTrack> tracks;
    for (int n = 1; n <= 4; ++n) tracks.push_back({"Band", "A", n, "Song " + std::to_string(n)});
    testing::makeMusicLibrary(music, tracks);
    const std::optional<pid_t> daemon = testing::fuseDaemonServing(drive->root());
    ASSERT_TRUE(daemon) << "no daemon serves " << drive->root();

    // The third song's read finds the drive stopped, and waits on it.
    struct Stop {
        std::mutex mutex;  // guards daemon
        std::optional<testing::StoppedDaemon> daemon;
    };
    auto stop = std::make_shared<Stop>();
    converter.onStart([stop, pid = *daemon](const Converter::Job& job) {
        if (job.source.filename() != "03 Song 3.flac") return;
        {
            std::lock_guard lock(stop->mutex);
            stop->daemon.emplace(pid, 10s);
        }
        std::ifstream held(job.source, std::ios::binary);
        held.get();
    });
    auto model = makeModel();
    model->setSrcPath(music.string());
    ASSERT_TRUE(testing::settle(*model));
    model->setSelected({"Band"});
    planToReview(*model);
    const testing::LoopGaps gaps;
    QElapsedTimer clock;
    clock.start();
    model->startConversion();
    ASSERT_TRUE(testing::waitUntil(
        [&] {
            std::lock_guard lock(stop->mutex);
            return stop->daemon.has_value();
        },
        30s));
    clock.restart();
    EXPECT_TRUE(waitForState(*model, RunState::Case::finished, 8s));
    tell("a run whose music drive stopped answering was halted after", clock.elapsed());
    const ConversionEvent::Summary& summary = model->state().summary;
    EXPECT_EQ(summary.halt, ConversionEvent::Halt::musicFolderLost);
    EXPECT_TRUE(summary.stopped);
    EXPECT_EQ(summary.progress.done,
              static_cast<std::int64_t>(testing::pathsBelow(card.path()).size()));
    EXPECT_EQ(summary.songsFailed(), 0);
    const std::vector<std::string> lines = logTexts(*model);
    EXPECT_NE(
        std::find(lines.begin(), lines.end(),
                  "[失敗] Music\n    " + std::string(ConversionRunner::musicFolderLostMessage)),
        lines.end());
    EXPECT_LE(gaps.longest(), 1s);
    tell("the event loop's longest pause during the run", gaps.longest().count());

    // Answered at last: the run's threads end before the drive goes.
    {
        std::lock_guard lock(stop->mutex);
        stop->daemon.reset();
    }
    model.reset();
    EXPECT_TRUE(waitUntil([] { return DetachedTask::running() == 0; }, 20s));
}

}  // namespace
}  // namespace tarvik
