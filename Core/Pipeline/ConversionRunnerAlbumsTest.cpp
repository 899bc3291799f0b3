// Where a run puts each album on a card that holds files already, with a
// scripted converter: a folder or a file is an album's only by what it is and
// what its files carry; a numbered folder never takes a name another album
// of the plan holds; the carry-over names tracks by album and planned place;
// events and the log say where the tracks went on the card.
#include "Core/Pipeline/CarryOver.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"

namespace tarvik {
namespace {

using namespace testing;
using Files = std::map<std::string, std::string>;

// Item n of album `album` by `albumArtist`, from "<n>.flac" to `path`.
ConversionPlan::Item itemFor(int n, const std::string& albumArtist, const std::string& album,
                             const std::string& path) {
    const std::string number = std::to_string(n);
    return {"/music/" + number + ".flac",
            TrackMeta("t" + number, albumArtist, albumArtist, album, number, "", "", ""), number,
            path, 0};
}

std::string notice(const std::string& name, const std::string& numbered) {
    return "notice 「" + name + "」には別のアルバムがあるため「" + numbered + "」に書き出しました";
}

struct Case {
    std::string name;
    ConversionPlan plan;
    Files card;                                              // what the card holds
    std::vector<std::pair<std::string, std::string>> links;  // path -> target
    Texts told;                                              // notices and converted paths
    Files written;                                           // what the run added
    DeviceProfile::Files::Layout layout = DeviceProfile::Files::Layout::artistAlbum;
};

TEST(CardAlbumsRun, AFolderOrFileIsTheAlbumsOnlyByWhatItIsAndCarries) {
    using Layout = DeviceProfile::Files::Layout;
    const std::string stranger = ownedBy("Stranger", "Road", "theirs");
    const std::vector<Case> cases = {
        {"another album's folder, and a real album named like its next number",
         planOf({{"Road", 1}, {"Road 2", 1}}),
         {{"MUSIC/Road/x.mp3", stranger}},
         {},
         {notice("Road", "Road 3"), "converted MUSIC/Road 3/1 t1.mp3",
          "converted MUSIC/Road 2/2 t2.mp3"},
         {{"MUSIC/Road 3/1 t1.mp3", "converted t1"}, {"MUSIC/Road 2/2 t2.mp3", "converted t2"}}},
        {"the album's own folder under a number the plan did not give",
         planOf({{"Road", 2}}),
         {{"MUSIC/Road/x.mp3", stranger}, {"MUSIC/Road 2/1 t1.mp3", ownedBy("Road", "mine")}},
         {},
         {"converted MUSIC/Road 2/2 t2.mp3"},
         {{"MUSIC/Road 2/2 t2.mp3", "converted t2"}}},
        {"another artist's album of one title where the layout shares its folder",
         ConversionPlan{{itemFor(1, "B", "Best", "MUSIC/Best/1 t1.mp3")}, 0, {{"B", "Best"}}},
         {{"MUSIC/Best/1 t1.mp3", ownedBy("A", "Best", "A's")}},
         {},
         {"converted MUSIC/Best/1 t1 2.mp3"},
         {{"MUSIC/Best/1 t1 2.mp3", "converted t1"}},
         Layout::album},
        {"a link at the track's place to the album's own file",
         planOf({{"A", 1}}),
         {{"elsewhere/1.mp3", ownedBy("A", "mine")}},
         {{"MUSIC/A/1 t1.mp3", "../../elsewhere/1.mp3"}},
         {"converted MUSIC/A/1 t1 2.mp3"},
         {{"MUSIC/A/1 t1 2.mp3", "converted t1"}}},
        {"a changed album artist's folder",
         ConversionPlan{
             {itemFor(1, "WALKER", "Road", "MUSIC/WALKER/Road/1 t1.mp3")}, 0, {{"WALKER", "Road"}}},
         {{"MUSIC/Walker/Road/1 t1.mp3", ownedBy("Walker", "Road", "old")}},
         {},
         {notice("Road", "Road 2"), "converted MUSIC/Walker/Road 2/1 t1.mp3"},
         {{"MUSIC/Walker/Road 2/1 t1.mp3", "converted t1"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir temp;
        const fs::path card = temp / "card";
        writeFiles(card, c.card);
        for (const auto& [path, target] : c.links) {
            fs::create_directories((card / path).parent_path());
            fs::create_symlink(target, card / path);
        }
        ConversionRunner runner = runnerFor(card);
        runner.profile.files.layout = c.layout;
        const auto events = runToTheEnd(runner, c.plan);
        Texts told = trace(events, "notice");
        for (const std::string& line : trace(events, "converted")) told.push_back(line);
        EXPECT_EQ(told, c.told);
        Files expected = c.card;
        expected.insert(c.written.begin(), c.written.end());
        EXPECT_EQ(filesBelow(card), expected);
        for (const auto& [path, target] : c.links) EXPECT_TRUE(fs::is_symlink(card / path));
    }
}

// Card A holds a stranger's "Road", so Road goes whole to "Road 2" and the
// card fills before album Other. The next card, continuing with what the
// window hands over, never writes Road again, and finds Other where it
// already is ("Other 2", beside a stranger's "Other").
TEST(CardAlbumsRun, CarryOverKnowsEachTrackByAlbumAndPlannedPlace) {
    const ConversionPlan plan = planOf({{"Road", 2}, {"Other", 2}});
    TempDir temp;
    writeFile(temp / "A/MUSIC/Road/x.mp3", ownedBy("Stranger", "Road", "theirs"));
    ConversionRunner first = runnerFor(temp / "A");
    first.options.freeSpace = [asked = std::make_shared<int>(0)](const fs::path&) {
        return std::optional<std::int64_t>(++*asked >= 3 ? 0 : std::int64_t{1} << 40);
    };
    const auto events = runToTheEnd(first, plan);
    const ConversionEvent::Summary& summary = *events.back().as<ConversionEvent::Summary>();
    EXPECT_EQ(summary.placed, (Texts{"MUSIC/Road 2/1 t1.mp3", "MUSIC/Road 2/2 t2.mp3"}));
    EXPECT_EQ(summary.carried,
              (Texts{CarryOver::entry(plan.items[0]), CarryOver::entry(plan.items[1])}));
    EXPECT_TRUE(summary.carried[0].ends_with("\tMUSIC/Road/1 t1.mp3"));

    const Files cardB = {{"MUSIC/Other/y.mp3", ownedBy("Stranger", "Other", "theirs")},
                         {"MUSIC/Other 2/3 t3.mp3", ownedBy("Other", "3")},
                         {"MUSIC/Other 2/4 t4.mp3", ownedBy("Other", "4")}};
    writeFiles(temp / "B", cardB);
    ConversionRunner next = runnerFor(temp / "B");
    next.options.exclude = {summary.carried.begin(), summary.carried.end()};
    const auto again = runToTheEnd(next, plan);
    EXPECT_EQ(trace(again, "skipped"),
              (Texts{"skipped MUSIC/Road/1 t1.mp3", "skipped MUSIC/Road/2 t2.mp3",
                     "skipped MUSIC/Other 2/3 t3.mp3", "skipped MUSIC/Other 2/4 t4.mp3"}));
    EXPECT_EQ(describe(again.back()), "done 0 skipped 4 failed 0");
    EXPECT_EQ(filesBelow(temp / "B"), cardB);
}

// The event names the folder as the card names it, also where a card that
// ignores letter case found it by another spelling.
TEST(CardAlbumsRun, EventsNameTheCardsOwnFoldersOnARealExfatCard) {
    std::string whyNot;
    const auto card = CardImage::make(16 << 20, whyNot);
    if (!card) GTEST_SKIP() << "no real exFAT card: " << whyNot;
    writeFile(card->root() / "MUSIC/Walker/Road/1 t1.mp3", ownedBy("Walker", "Road", "old"));
    const ConversionPlan plan{
        {itemFor(1, "WALKER", "Road", "MUSIC/WALKER/Road/1 t1.mp3")}, 0, {{"WALKER", "Road"}}};
    const auto events = runToTheEnd(runnerFor(card->root()), plan);
    EXPECT_EQ(trace(events, "notice"), Texts{notice("Road", "Road 2")});
    EXPECT_EQ(trace(events, "converted"), Texts{"converted MUSIC/Walker/Road 2/1 t1.mp3"});
    EXPECT_EQ(events.back().as<ConversionEvent::Summary>()->placed,
              Texts{"MUSIC/Walker/Road 2/1 t1.mp3"});
    EXPECT_EQ(pathsBelow(card->root()),
              (Texts{"MUSIC/Walker/Road 2/1 t1.mp3", "MUSIC/Walker/Road/1 t1.mp3"}));
}

}  // namespace
}  // namespace tarvik
