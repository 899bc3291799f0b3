// A started run with a scripted converter: admission, skips, the parallel
// limit, a full card and its roll-back, junk, stopping and the handle, runs
// that plan for themselves; and the planning pass: tags read four at a time,
// aliases, the catalogue's corrections and a stop during the lookup.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "Core/Catalog/CatalogTesting.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using namespace testing;
using Ending = ScriptedConverter::Ending;
using Files = std::map<std::string, std::string>;

// Reads until an event is told as `wanted`; false when the events end first.
bool readUntil(ConversionRunner::Handle& handle, const std::string& wanted) {
    while (std::optional<ConversionEvent> event = handle.events.next()) {
        if (describe(*event) == wanted) return true;
    }
    return false;
}

// Item 1 is carried over from an earlier card (named there in the other
// normal form), item 2 is on the card already (its tag names its album), written by another computer
// into a folder named in the other normal form, which the run goes on using;
// item 4 fails. The card's own name is decomposed as well.
TEST(ConversionRun, SkipsWhatIsThereOrCarriedOverAndReportsEachTrackInOrder) {
    ConversionPlan plan = planOf({{"Caf\u00E9", 5}});
    plan.items[0].relativePath = "MUSIC/Caf\u00E9/1 Ca\u0301fe\u0301.mp3";
    const std::string nfd = "MUSIC/Cafe\u0301/", p2 = nfd + "2 t2.mp3", p3 = nfd + "3 t3.mp3",
                      p5 = nfd + "5 t5.mp3";
    TempDir temp;
    const fs::path card = temp / "SD \u304F\u3099\u308B\u307E";  // くるま, a separate dakuten
    ConversionRunner runner = runnerFor(card);
    runner.options.exclude = {"MUSIC/Caf\u00E9/1 C\u00e1f\u00e9.mp3"};
    writeFile(card / nfd / "2 t2.mp3", ownedBy("Caf\u00E9", "already there"));
    ScriptedConverter converter;
    converter.script("4.flac", {Ending::fail});
    // The carried-over track's event carries the plan's own text, not its
    // composed form; the others name the card's own folder, as it is named.
    EXPECT_EQ(trace(runToTheEnd(runner, plan, converter)),
              (Texts{"progress 0 0 0 / 5", "converting", "skipped " + plan.items[0].relativePath,
                     "progress 0 1 0 / 5", "skipped " + p2, "progress 0 2 0 / 5", "converted " + p3,
                     "progress 1 2 0 / 5", "failed /music/4.flac: 変換できません: 4.flac",
                     "progress 1 2 1 / 5", "converted " + p5, "progress 2 2 1 / 5", "finishing",
                     "done 2 skipped 2 failed 1"}));
    EXPECT_EQ(filesBelow(card), (Files{{nfd + "2 t2.mp3", ownedBy("Caf\u00E9", "already there")},
                                       {nfd + "3 t3.mp3", "converted t3"},
                                       {nfd + "5 t5.mp3", "converted t5"}}));
}

// Items 1-2 are album A, 3-5 album B and 6-7 album C; one run writes them in
// turn until the track `full` finds no room. Only what this run wrote into an
// album that is now partial goes again, and only when some album it wrote is
// whole; a track that failed leaves its album whole; files that were there
// stay, and so do folders holding them.
TEST(ConversionRun, FullCardTakesBackWhatThisRunWroteIntoPartialAlbums) {
    const ConversionPlan plan = planOf({{"Artist A/A", 2}, {"Artist B/B", 3}, {"Artist C/C", 2}});
    struct Case {
        std::string present, excluded, failing, full;
        bool usersFileInB;
        std::string kept, notice;
    };
    const std::vector<Case> cases = {
        {"", "", "", "7", false, "12345", "C"}, {"", "", "4", "7", false, "1235", "C"},
        {"", "", "4", "5", false, "12", "B"},   {"12", "", "", "4", false, "123", ""},
        {"3", "", "", "4", false, "123", ""},   {"3", "", "", "5", false, "123", "B"},
        {"", "", "", "4", true, "12", "B"},     {"", "45", "", "6", false, "123", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.present + "/" + c.excluded + "/" + c.failing + "/" + c.full);
        const auto paths = [&](const std::string& items) {
            Texts result;
            for (const char n : items) result.push_back(plan.items[n - '1'].relativePath);
            return result;
        };
        TempDir card;
        for (const char n : c.present) {
            const ConversionPlan::Item& item = plan.items[n - '1'];
            writeFile(card / item.relativePath, ownedBy(item.meta.album, "old"));
        }
        if (c.usersFileInB) writeFile(card / "MUSIC/Artist B/B/cover.jpg", "the user's");
        ConversionRunner runner = runnerFor(card.path());
        for (const std::string& path : paths(c.excluded)) runner.options.exclude.insert(path);
        ScriptedConverter converter;
        converter.script(c.failing + ".flac", {Ending::fail});
        converter.script(c.full + ".flac", {Ending::noSpace});
        const auto events = runToTheEnd(runner, plan, converter);

        EXPECT_EQ(converter.started().back(), c.full + ".flac");
        const std::string notice = "notice 途中までしか入らなかったアルバム（MUSIC/Artist " +
                                   c.notice + "/" + c.notice + "）は、次のカードにまとめて入れます";
        EXPECT_EQ(trace(events, "notice"), c.notice.empty() ? Texts{} : Texts{notice});
        EXPECT_EQ(trace(events).back(),
                  "done " + std::to_string(c.kept.size() - c.present.size()) + " skipped " +
                      std::to_string(c.present.size() + c.excluded.size()) + " failed " +
                      std::to_string(c.failing.size()) + " cardFull");
        EXPECT_EQ(events.back().as<ConversionEvent::Summary>()->placed, paths(c.kept));
        Texts onCard = paths(c.kept);
        if (c.usersFileInB) onCard.insert(onCard.begin() + 2, "MUSIC/Artist B/B/cover.jpg");
        EXPECT_EQ(pathsBelow(card.path()), onCard);
        // Emptied album folders go with their artist folders.
        for (const auto& entry : fs::recursive_directory_iterator(card.path()))
            EXPECT_FALSE(fs::is_empty(entry.path())) << entry.path();
    }
}

// A card counts as full below ten minutes of audio at the profile's bit rate
// plus the reserve: at 192 kbit/s that is 600 × 24,000 bytes + 50 MiB.
TEST(ConversionRun, CardBelowTenMinutesOfAudioAndTheReserveIsFull) {
    const struct {
        std::int64_t bitrate, reserveMB, headroom;
    } cases[] = {{192, 50, 66'828'800}, {192, 0, 14'400'000}, {320, 50, 76'428'800}};
    for (const auto& c : cases) {
        for (const std::int64_t free : {c.headroom, c.headroom - 1}) {
            SCOPED_TRACE(std::to_string(c.bitrate) + "/" + std::to_string(free));
            TempDir card;
            ConversionRunner runner = runnerFor(card.path());
            runner.profile.audio.bitrate = c.bitrate;
            runner.options.reserveMB = c.reserveMB;
            runner.options.freeSpace = [free](const fs::path&) {
                return std::optional<std::int64_t>(free);
            };
            EXPECT_EQ(trace(runToTheEnd(runner, separateAlbums(1))).back(),
                      free == c.headroom ? "done 1 skipped 0 failed 0"
                                         : "done 0 skipped 0 failed 0 cardFull");
        }
    }
}

// Items 1 and 2 convert, item 3 hangs, the fourth admission finds the card
// full; a stop then ends the run, keeping album B partly written: a stopped
// run takes nothing back, its carry-over stays whole.
TEST(RunHandle, StopEndsTheRunningConversionsAndKeepsWhatIsWritten) {
    TempDir card;
    const ConversionPlan plan = planOf({{"A", 1}, {"B", 5}});
    ConversionRunner runner = runnerFor(card.path(), 3);
    runner.options.freeSpace = [asked = std::make_shared<int>(0)](const fs::path&) {
        return std::optional<std::int64_t>(++*asked < 4 ? std::int64_t{1} << 40 : 0);
    };
    ScriptedConverter converter;
    for (int n = 3; n <= 6; ++n)
        converter.script(std::to_string(n) + ".flac", {Ending::waitForStop});
    ConversionRunner::Handle handle = runner.start(plan, converter.function());
    ASSERT_TRUE(readUntil(handle, "progress 2 0 0 / 6"));
    handle.cancel();
    handle.cancel();
    EXPECT_EQ(trace(drain(handle)),
              (Texts{"finishing", "done 2 skipped 0 failed 0 stopped cardFull"}));
    handle.cancel();  // after the end: nothing left to stop
    EXPECT_EQ(std::set(converter.started().begin(), converter.started().end()),
              (std::set<std::string>{"1.flac", "2.flac", "3.flac"}));
    EXPECT_EQ(pathsBelow(card.path()),
              (Texts{plan.items[0].relativePath, plan.items[1].relativePath}));

    // A reader letting go stops the run as well; on an empty card nothing
    // read there stops the run before its conversions start.
    ScriptedConverter hanging;
    for (int n = 1; n <= 6; ++n) hanging.script(std::to_string(n) + ".flac", {Ending::waitForStop});
    std::shared_ptr<DetachedTask> task;
    TempDir empty;
    {
        ConversionRunner::Handle dropped =
            runnerFor(empty.path(), 2).start(separateAlbums(6), hanging.function());
        task = dropped.task;
        ASSERT_TRUE(readUntil(dropped, "converting"));
    }
    ASSERT_TRUE(task->waitFor(10s));
    EXPECT_EQ(hanging.started().size(), 2U);
}

// The desktop's junk and this program's own temporary files go before and
// after the run; no one else's partial downloads, nothing outside the card
// root and no folder.
TEST(ConversionRun, JunkGoesBeforeAndAfterButNoOneElsesFiles) {
    TempDir card;
    const std::string ours = "MUSIC/X/.tarvik-" + makeUuid() + ".part";
    for (const std::string junk : {"MUSIC/._a.mp3", "MUSIC/X/.DS_Store", ours.c_str()})
        writeFile(card / junk, "junk");
    Texts kept = {"._outside", "MUSIC/._folder/keep.mp3", "MUSIC/X/.tarvik-not-a-uuid.part",
                  "MUSIC/X/movie.mkv.part"};
    for (const std::string& file : kept) writeFile(card / file, "someone's");
    ScriptedConverter converter;
    bool junkAtStart = true;
    converter.onStart([&](const Converter::Job&) {
        junkAtStart = fs::exists(card / ours) || fs::exists(card / "MUSIC/._a.mp3");
        writeFile(card / ("MUSIC/Y/.tarvik-" + makeUuid() + ".part"), "half a copy");
    });
    runToTheEnd(runnerFor(card.path()), separateAlbums(1), converter);
    EXPECT_FALSE(junkAtStart);
    kept.insert(kept.begin() + 2, "MUSIC/Album 1/1 t1.mp3");
    EXPECT_EQ(pathsBelow(card.path()), kept);
}

// A copy under way beside the run (a send, another run, or one left behind
// that is still writing) holds its temporary file's lock: neither sweep of
// the run takes it, whether it was there when the run began or came while
// the run converted.
TEST(ConversionRun, SweepsLeaveTheTemporaryFileOfACopyUnderWay) {
    TempDir card;
    std::vector<int> writers;
    const auto writing = [&](const std::string& relative) {
        writeFile(card / relative, "being written");
        const int writer = ::open((card / relative).c_str(), O_WRONLY | O_CLOEXEC);
        if (writer >= 0) writers.push_back(writer);
        EXPECT_EQ(::flock(writer, LOCK_EX), 0) << relative;
        return relative;
    };
    const std::string before = writing("MUSIC/X/.tarvik-" + makeUuid() + ".part");
    std::string meanwhile;
    ScriptedConverter converter;
    converter.onStart([&](const Converter::Job&) {
        meanwhile = writing("MUSIC/Y/.tarvik-" + makeUuid() + ".part");
    });
    runToTheEnd(runnerFor(card.path()), separateAlbums(1), converter);
    for (const int writer : writers) ::close(writer);
    EXPECT_EQ(pathsBelow(card.path()), (Texts{"MUSIC/Album 1/1 t1.mp3", before, meanwhile}));
}

// A dry run lists the plan as skipped and counts only the carried-over. A
// stop while tags are read ends the run at once as a stopped one, without
// planning the files left from their names; the stand-in hangs on "slow…"
// files. Neither makes the card.
TEST(RunHandle, RunThatPlansItselfReportsThePlanningAndAlwaysFinishes) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg", "0");
    writeFile(temp / "music/Band/Album/one.flac", "");
    writeFile(temp / "music/Band/Album/two.flac", "");
    for (int i = 100; i < 160; ++i)
        writeFile(
            temp / "slow/Band/Album" / ((i < 150 ? "" : "slow") + std::to_string(i) + ".flac"), "");
    for (const std::string music : {"music", "slow"}) {
        ConversionRunner runner = runnerFor(temp / "card", 2, ffmpeg.program, temp / music);
        runner.options.dryRun = true;
        runner.options.exclude = {"MUSIC/Band/Album/two.mp3"};
        ConversionRunner::Handle handle = runner.start(std::nullopt);
        ASSERT_TRUE(readUntil(handle, music == "slow" ? "reading 50/60" : "scanning"));
        const auto stopped = std::chrono::steady_clock::now();
        if (music == "slow") handle.cancel();
        EXPECT_EQ(trace(drain(handle)),
                  (music == "slow"
                       ? Texts{"done 0 skipped 0 failed 0 stopped"}
                       : Texts{"planning", "progress 0 0 0 / 2", "skipped MUSIC/Band/Album/one.mp3",
                               "skipped MUSIC/Band/Album/two.mp3", "done 0 skipped 1 failed 0"}));
        EXPECT_LT(std::chrono::steady_clock::now() - stopped, 10s);
    }
    EXPECT_FALSE(fs::exists(temp / "card"));
}

// Aliases join written forms before albums are formed; tags are read four
// at a time by the stand-in, which titles each empty file after its name,
// each record kept at its file's place; the catalogue's corrections are
// reported and placed again. A stop during the lookup ends the pass before
// half an answer is reported.
TEST(PlanningPass, AliasesAndCatalogueCorrectionsArePlacedAgainUnlessStopped) {
    TempDir temp;
    const CountingFFmpeg ffmpeg(temp / "ffmpeg", "0.3");
    for (const char* file :
         {"A Band/First Album/sunrise.flac", "A Band/Night Drive/harbour.flac",
          "A Band/Night Drive/meadow.flac", "Band A/Live/intro.flac", "BAND-A/Live/outro.flac"}) {
        writeFile(temp / "music" / file, "");
    }
    auto catalog = std::make_shared<RecordingCatalog>();
    catalog->songs["A Band|harbour"] = {CatalogRecord::fromJson(nlohmann::json::parse(R"({
        "wrapperType": "track", "artistName": "A Band", "collectionName": "Night Drive",
        "collectionArtistName": "A Band", "collectionId": 9, "trackName": "Harbour",
        "releaseDate": "2019-05-01T07:00:00Z", "primaryGenreName": "Rock"})"))};
    ConversionRunner runner = runnerFor("/nonexistent/card", 1, ffmpeg.program, temp / "music");
    runner.catalog = catalog;
    runner.options.aliases.entries = {{"band-a", "Band A"}};
    Texts told;
    const auto pass = [&](const std::string& stopAt) {
        told.clear();
        std::stop_source stop;
        const auto tell = [&](const ConversionEvent& event) {
            told.push_back(describe(event));
            if (told.back() == stopAt) stop.request_stop();
        };
        return runner.plan(tell, stop.get_token());
    };

    const ConversionPlan plan = pass("");
    EXPECT_EQ(told, (Texts{"scanning", "planning", "lookingUp 1/3 A Band / First Album",
                           "lookingUp 2/3 A Band / Night Drive", "renamed harbour -> Harbour",
                           "lookingUp 3/3 Band A / Live"}));
    EXPECT_EQ(ffmpeg.peak(), 4);
    std::string titles;
    for (const auto& item : plan.items)
        titles += item.meta.title + " " + item.meta.albumArtist + ";";
    EXPECT_EQ(titles, "sunrise A Band;Harbour A Band;meadow A Band;intro Band A;outro Band A;");
    EXPECT_EQ(plan.items[1].relativePath, "MUSIC/A Band/Night Drive/Harbour.mp3");
    EXPECT_EQ(plan.items[1].meta,
              TrackMeta("Harbour", "A Band", "A Band", "Night Drive", "", "", "2019", "Rock"));

    EXPECT_THROW(pass("lookingUp 2/3 A Band / Night Drive"), Cancelled);
    EXPECT_EQ(told.back(), "lookingUp 2/3 A Band / Night Drive");
}

}  // namespace
}  // namespace tarvik
