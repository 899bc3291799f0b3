// A song's copy that an earlier run wrote under another title is moved to
// the song's place and written over there; it was on the card before this
// run, so a card that fills up meanwhile never takes it back.
#include "Core/Pipeline/ConversionRunnerTesting.hpp"

namespace tarvik {
namespace {

using namespace testing;
using Ending = ScriptedConverter::Ending;

// A copy of planOf's item `item` as an earlier run wrote it, titled `title`.
std::string earlierCopy(const ConversionPlan::Item& item, const std::string& title) {
    ID3Writer::Tags tags{.title = title, .track = item.meta.track};
    tags.albumIdentity = AlbumIdentity::of(item.meta);
    tags.trackIdentity = AlbumIdentity::trackOf(item.meta);
    return std::string(asText(ID3Writer{}.encodeV2(tags, 0))) + "an earlier copy";
}

// Album X is written whole; album Y's first song is its earlier copy renamed
// and written again, its second finds the card full. Y stays partial with
// both its songs' copies: the one written again is not taken back.
TEST(EarlierCopies, AFullCardNeverTakesBackASongThatWasThere) {
    TempDir temp;
    fs::create_directory(temp / "card");
    const ConversionPlan plan = planOf({{"X", 1}, {"Y", 2}});
    writeFile(temp / "card/MUSIC/Y/old.mp3", earlierCopy(plan.items[1], "Old Title"));
    ScriptedConverter converter;
    converter.script("3.flac", {Ending::noSpace});
    const auto events = runToTheEnd(runnerFor(temp / "card"), plan, converter);
    EXPECT_EQ(trace(events, "notice"),
              Texts{"notice 「MUSIC/Y/old.mp3」は曲名か番号が変わったため、「2 t2.mp3」に名前を"
                    "変えて書き直します"});
    EXPECT_EQ(describe(events.back()), "done 2 skipped 0 failed 0 cardFull");
    EXPECT_EQ(pathsBelow(temp / "card"), (Texts{"MUSIC/X/1 t1.mp3", "MUSIC/Y/2 t2.mp3"}));
    EXPECT_EQ(readFile(temp / "card/MUSIC/Y/2 t2.mp3"), "converted t2");
}

}  // namespace
}  // namespace tarvik
