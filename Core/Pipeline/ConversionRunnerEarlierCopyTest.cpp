// A song's copy that an earlier run wrote under another title, or in the
// album's folder under the names the library gave the album, is moved to the
// song's place and written over there; it was on the card before this run,
// so a card that fills up meanwhile never takes it back, and a run stopped
// halfway leaves every song once for a later run to finish.
#include "Core/Pipeline/ConversionRunnerTesting.hpp"
#include "Core/SDCard/SDCardTools.hpp"

namespace tarvik {
namespace {

using namespace testing;
using Ending = ScriptedConverter::Ending;

// A file titled `title` of album `album`, numbered and carrying the
// identities as the library's record `library` gives them.
std::string copyOf(const TrackMeta& library, const std::string& title, const std::string& album,
                   std::string_view content) {
    const ID3Writer::Tags tags{.title = title,
                               .album = album,
                               .albumArtist = library.albumArtist,
                               .track = library.track,
                               .albumIdentity = AlbumIdentity::of(library),
                               .trackIdentity = AlbumIdentity::trackOf(library)};
    return std::string(asText(ID3Writer{}.encodeV2(tags, 0))) + std::string(content);
}

// A copy of planOf's item `item` as an earlier run wrote it, titled `title`,
// from the library's record where a lookup changed it since.
std::string earlierCopy(const ConversionPlan::Item& item, const std::string& title) {
    return copyOf(item.libraryMeta(), title, item.libraryMeta().album, "an earlier copy");
}

// planOf's album `album` as the library named it (`album` + " old") before
// a lookup.
void renamedByALookup(ConversionPlan& plan, const std::string& album,
                      const std::string& library = "") {
    for (ConversionPlan::Item& item : plan.items) {
        if (item.meta.album != album) continue;
        item.library = item.meta;
        item.library->album = library.empty() ? album + " old" : library;
    }
}

// Album X is written whole; album Y's first song is its earlier copy renamed
// and written again, or its cut copy written again where it lies; its second
// finds the card full. Y stays partial: the copy written again is not taken
// back, nor is the folder of the library's name that took Y's name.
TEST(EarlierCopies, AFullCardNeverTakesBackASongThatWasThere) {
    struct Case {
        std::string name;
        bool renamedAlbum;  // Y's folder and tags hold "Y old"
        std::string title;  // the first song's title there
        std::string path;   // its path there
        Texts told;
        bool cut = false;  // the copy ended at its tag's end
    };
    const std::vector<Case> cases = {
        {"a song titled otherwise",
         false,
         "Old Title",
         "MUSIC/Y/old.mp3",
         {"notice 「MUSIC/Y/old.mp3」は曲名か番号が変わったため、「2 t2.mp3」に名前を変えて"
          "書き直します"}},
        {"an album named otherwise",
         true,
         "t2",
         "MUSIC/Y old/2 t2.mp3",
         {"notice 「MUSIC/Y old」はアルバム名が変わったため、「Y」に名前を変えます",
          "notice 「MUSIC/Y/2 t2.mp3」はアルバム名が変わったため、書き直します"}},
        // Copies that ended early, at the song's name or one the user gave it.
        {"a cut copy", false, "t2", "MUSIC/Y/2 t2.mp3", {}, true},
        {"a cut copy renamed", false, "t2", "MUSIC/Y/Fav.mp3", {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir temp;
        fs::create_directory(temp / "card");
        ConversionPlan plan = planOf({{"X", 1}, {"Y", 2}});
        if (c.renamedAlbum) renamedByALookup(plan, "Y");
        const TrackMeta& library = plan.items[1].libraryMeta();
        writeFile(temp / "card" / c.path,
                  copyOf(library, c.title, library.album, c.cut ? "" : "an earlier copy"));
        ScriptedConverter converter;
        converter.script("3.flac", {Ending::noSpace});
        const auto events = runToTheEnd(runnerFor(temp / "card"), plan, converter);
        EXPECT_EQ(trace(events, "notice"), c.told);
        EXPECT_EQ(describe(events.back()), "done 2 skipped 0 failed 0 cardFull");
        const std::string kept = c.path.ends_with("Fav.mp3") ? c.path : "MUSIC/Y/2 t2.mp3";
        EXPECT_EQ(filesBelow(temp / "card"),
                  (std::map<std::string, std::string>{{"MUSIC/X/1 t1.mp3", "converted t1"},
                                                      {kept, "converted t2"}}));
    }
}

// Stopped while the first of the album's songs is written again in the
// folder that took the album's name: every song is there once, as it was;
// the next run writes both again, once.
TEST(EarlierCopies, AStopHalfwayLeavesEverySongOnceForTheNextRun) {
    TempDir temp;
    ConversionPlan plan = planOf({{"Y", 2}});
    renamedByALookup(plan, "Y");
    const Texts before = {"MUSIC/Y old/1 t1.mp3", "MUSIC/Y old/2 t2.mp3"};
    for (std::size_t item = 0; item < 2; ++item) {
        writeFile(temp / "card" / before[item],
                  earlierCopy(plan.items[item], "t" + std::to_string(item + 1)));
    }
    ScriptedConverter stopping;
    stopping.script("1.flac", {Ending::waitForStop});
    ConversionRunner::Handle handle = runnerFor(temp / "card").start(plan, stopping.function());
    bool rewriting = false;
    while (std::optional<ConversionEvent> event = handle.events.next()) {
        rewriting = describe(*event).starts_with("notice 「MUSIC/Y/1 t1.mp3」");
        if (rewriting) break;
    }
    ASSERT_TRUE(rewriting);
    handle.cancel();
    EXPECT_EQ(describe(drain(handle).back()), "done 0 skipped 0 failed 0 stopped");
    EXPECT_EQ(pathsBelow(temp / "card"), (Texts{"MUSIC/Y/1 t1.mp3", "MUSIC/Y/2 t2.mp3"}));
    EXPECT_EQ(readFile(temp / "card/MUSIC/Y/1 t1.mp3"), earlierCopy(plan.items[0], "t1"));

    const auto next = runToTheEnd(runnerFor(temp / "card"), plan);
    EXPECT_EQ(trace(next, "notice"),
              (Texts{"notice 「MUSIC/Y/1 t1.mp3」はアルバム名が変わったため、書き直します",
                     "notice 「MUSIC/Y/2 t2.mp3」はアルバム名が変わったため、書き直します"}));
    EXPECT_EQ(describe(next.back()), "done 2 skipped 0 failed 0");
    EXPECT_EQ(filesBelow(temp / "card"),
              (std::map<std::string, std::string>{{"MUSIC/Y/1 t1.mp3", "converted t1"},
                                                  {"MUSIC/Y/2 t2.mp3", "converted t2"}}));
}

// Where the name the lookup gives the album is another album's folder, the
// album stays in the folder of the library's name, says why, and its song
// is written again there; the other album's file stays as it is.
TEST(EarlierCopies, AFolderWhoseNewNameIsTakenKeepsItsNameAndSaysWhy) {
    TempDir temp;
    ConversionPlan plan = planOf({{"Y", 1}});
    renamedByALookup(plan, "Y");
    writeFile(temp / "card/MUSIC/Y old/1 t1.mp3", earlierCopy(plan.items[0], "t1"));
    writeFile(temp / "card/MUSIC/Y/x.mp3", ownedBy("Z", "theirs"));
    const auto events = runToTheEnd(runnerFor(temp / "card"), plan);
    EXPECT_EQ(trace(events, "notice"),
              (Texts{"notice 「MUSIC/Y old」はアルバム名が変わりましたが、「Y」には別のアルバムが"
                     "あるため、名前を変えずに書き出しました",
                     "notice 「MUSIC/Y old/1 t1.mp3」はアルバム名が変わったため、書き直します"}));
    EXPECT_EQ(filesBelow(temp / "card"),
              (std::map<std::string, std::string>{{"MUSIC/Y old/1 t1.mp3", "converted t1"},
                                                  {"MUSIC/Y/x.mp3", ownedBy("Z", "theirs")}}));
}

// An album a lookup renamed in letter case alone: its folder takes the
// lookup's letters on a card that takes both for one name, by the export
// and by the send of the album exported elsewhere.
TEST(EarlierCopies, AFolderRenamedInLetterCaseTakesItsLettersOnARealExfatCard) {
    std::string whyNot;
    const auto card = CardImage::make(16 << 20, whyNot);
    if (!card) GTEST_SKIP() << "no real exFAT card: " << whyNot;
    TempDir temp;
    ConversionPlan plan = planOf({{"Road", 1}});
    renamedByALookup(plan, "Road", "road");
    // As an export with the lookup wrote it into a folder of its own.
    const std::string exported = copyOf(*plan.items[0].library, "t1", "Road", "exported");
    writeFile(temp / "export/MUSIC/Road/1 t1.mp3", exported);
    for (const bool send : {false, true}) {
        SCOPED_TRACE(send ? "send" : "export");
        fs::remove_all(card->root() / "MUSIC");
        writeFile(card->root() / "MUSIC/road/1 t1.mp3", earlierCopy(plan.items[0], "t1"));
        if (send) {
            SDCardTools::send(SDCardTools::exportedAlbums({temp / "export/MUSIC"}), card->root());
        } else {
            EXPECT_EQ(
                trace(runToTheEnd(runnerFor(card->root()), plan), "notice"),
                (Texts{"notice 「MUSIC/road」はアルバム名が変わったため、「Road」に名前を変えます",
                       "notice 「MUSIC/Road/1 t1.mp3」はアルバム名が変わったため、書き直します"}));
        }
        EXPECT_EQ(filesBelow(card->root()),
                  (std::map<std::string, std::string>{
                      {"MUSIC/Road/1 t1.mp3", send ? exported : "converted t1"}}));
    }
}

}  // namespace
}  // namespace tarvik
