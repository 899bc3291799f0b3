// The plan document with its file and report, the planner's names and
// items, and planning real files through ffmpeg's tag probe.
#include <gtest/gtest.h>

#include <atomic>

#include "Core/Catalog/CatalogTesting.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/FileSizeLimit.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyPlanner.hpp"
#include "Core/Tidy/TidySongTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;
using E = ConversionEvent;
using Status = TidyItem::Status;
using enum TidyItem::Status;
using testing::TempDir;
using testing::writeFile;

const std::string proper = "すでに正式な表記です", unmatched = "候補が見つかりません",
                  twins = "同じ名前になる曲がほかにあります",
                  taken = "同じ名前のファイルがすでにあります（重複の可能性）",
                  place = "ファイル名・場所",
                  undecoded = "タグの文字を読み取れないので名前を変えません";

// A file in the album folder the records below name.
std::string in(const std::string& name) {
    return "A Band/Night/" + name;
}

TrackMeta meta(std::string title, std::string track = "1", std::string artist = "A Band",
               std::string album = "Night") {
    return TrackMeta(std::move(title), artist, artist, std::move(album), std::move(track), "",
                     "2019", "Rock");
}

TidyItem planned(const std::string& source, const std::string& target, const std::string& title,
                 Status status, const std::string& reason) {
    const TrackMeta old(title, "a band", "a band", "night", "1", "", "2019", "Rock");
    const TrackMeta corrected("Y", "A Band", "A Band", "Night", "1", "2", "2019", "Rock");
    return {source,
            target,
            old,
            corrected,
            status,
            reason,
            true,
            source != target,
            !source.ends_with(".wav"),
            status != Status::hold};
}

// Commas, quotes and a disc number the report leaves out.
const TidyPlan sample{
    "/home/u/Music",
    sys_days{year{2026} / 3 / 4} + 5h + 6min + 7s,
    {planned("a/01 x.mp3", "A/01 Y.mp3", "x", Status::change, "曲名・アーティスト"),
     planned("a/\"q\", y.wav", "a/\"q\", y.wav", "say \"hi\", y", Status::hold,
             "候補が見つかりません")}};

TEST(TidyPlan, SavedPlanLoadsEqualOutlivesAFailedSaveAndReportsAsCSV) {
    const testing::TempDir dir;
    const auto file = dir / "deep/er/plan.json";  // folders made on the way
    TidyPlan exact = sample;
    exact.created += 250ms;
    exact.save(file);
    EXPECT_EQ(TidyPlan::load(file), sample);
    EXPECT_EQ(TidyPlan::fromJSONText(text::replacing(sample.json(), "\\/", "/")), sample);
    const std::string text = testing::readFile(file);
    EXPECT_EQ(text::replacing(text, "\\/", "").find("/"), std::string::npos);
    EXPECT_EQ(sample.csv(),
              "\xEF\xBB\xBF状態,理由,元のパス,新しいパス,元の曲名,新しい曲名,元のアーティスト,"
              "新しいアーティスト,元のアルバム,新しいアルバム,元の番号,新しい番号,タグ書き換え\r\n"
              "\"変更\",\"曲名・アーティスト\",\"a/01 x.mp3\",\"A/01 Y.mp3\",\"x\",\"Y\","
              "\"a band\",\"A Band\",\"night\",\"Night\",\"1\",\"1\",\"する\"\r\n"
              "\"保留\",\"候補が見つかりません\",\"a/\"\"q\"\", y.wav\",\"a/\"\"q\"\", y.wav\","
              "\"say \"\"hi\"\", y\",\"Y\",\"a band\",\"A Band\",\"night\",\"Night\",\"1\",\"1\","
              "\"できない形式\"\r\n");
    const testing::FileSizeLimit limit(16);  // a full disk, for root too
    ASSERT_TRUE(limit.active());
    EXPECT_THROW((TidyPlan{"/m", {}, {}}.save(file)), ConversionError);
    EXPECT_EQ(testing::readFile(file), text);
}

TEST(TidyPlan, FileThatIsNotAPlanDoesNotLoad) {
    const nlohmann::json good = nlohmann::json::parse(sample.json());
    for (const char* change :
         {R"({"op":"remove","path":"/items/0/selected"})",
          R"({"op":"replace","path":"/items/0/status","value":"maybe"})",
          R"({"op":"replace","path":"/created","value":"2026-03-04"})",
          R"({"op":"replace","path":"/created","value":"1600-01-01T00:00:00Z"})",
          R"({"op":"replace","path":"/created","value":"2300-01-01T00:00:00Z"})"}) {
        const auto bad = good.patch(nlohmann::json::array({nlohmann::json::parse(change)})).dump();
        EXPECT_THROW(TidyPlan::fromJSONText(bad), DecodingError) << change;
    }
    EXPECT_THROW(TidyPlan::load("/nonexistent/plan.json"), ConversionError);
}

TEST(TidyPlannerPaths, TargetPaths) {
    using O = std::optional<std::string>;
    // 120 kana are 360 bytes: cut at whole characters to 255 with the extension.
    std::string kana;
    for (int i = 0; i < 120; ++i) kana += "が";
    const std::string folder = text::prefixScalars(kana, 85);  // 255 bytes
    const std::vector<std::tuple<TrackMeta, std::string, O, O, std::string>> cases = {
        {meta("", ""), "wav", {}, {}, in("Track.wav")},
        {meta("Intro", "99999999999"), "mp3", {}, {}, in("Intro.mp3")},
        {meta("Intro", "+-7"), "mp3", {}, {}, in("Intro.mp3")},  // one sign at most
        {meta("Intro", "+7"), "mp3", {}, {}, in("07 Intro.mp3")},
        {meta("a/b: c"), "mp3", {}, {}, in("01 a_b_ c.mp3")},
        {meta(std::string(150, 'x'), ""), "mp3", {}, {}, in(std::string(120, 'x') + ".mp3")},
        {meta(kana, "", kana, kana),
         "flac",
         {},
         {},
         folder + "/" + folder + "/" + text::prefixScalars(kana, 83) + ".flac"},
        // Present folders: separators only, the user's own grouping, letter case.
        {meta("x"), "mp3", O("A_Band"), O("Night"), "A_Band/Night/01 x.mp3"},
        {meta("x"), "mp3", O("Favourites"), O("Mix 2020"), "Favourites/Mix 2020/01 x.mp3"},
        {meta("x"), "mp3", O("a band"), O("NIGHT"), in("01 x.mp3")},
    };
    for (const auto& [track, extension, artist, album, expected] : cases) {
        EXPECT_EQ(TidyPlanner::targetPath(track, extension, 120, artist, album), expected);
    }
}

// One file: its path below the root, the record read, the record proposed,
// the item expected, and whether the catalogue matched it.
struct Row {
    std::string source;
    TrackMeta read, proposed;
    Status status;
    std::string reason, target;
    bool matched = true;
};

TEST(TidyPlanItems, StatusReasonAndTarget) {
    TempDir dir;
    writeFile(dir / in("09 Outside.mp3"), "");
    const TidyPlanner planner{{}, dir.path(), {}, nullptr};
    const std::vector<Row> rows = {
        {in("01 Song.mp3"), meta("Song"), meta("Song"), same, proper, in("01 Song.mp3")},
        {in("08 O.mp3"), meta("O", "8"), meta("O", "8"), hold, unmatched, in("08 O.mp3"), false},
        {in("03 Tune.wav"), meta("tune", "3"), meta("Tune", "4"), change,
         "曲名・番号・ファイル名・場所（wav はタグを書けないので名前だけ）", in("04 Tune.wav")},
        // The catalogue never adds a compilation artist or disc one.
        {in("06 Comp.mp3"), meta("Comp", "6"),
         TrackMeta("Comp", "A Band", "Various Artists", "Night", "6", "1", "2019", "Rock"), same,
         proper, in("06 Comp.mp3")},
        // A file too shallow for present folders.
        {"09 Solo.mp3", meta("Solo", "9"), meta("Solo", "9"), change, place, in("09 Solo.mp3")},
        // The clash guard: two files onto one name in different letter case,
        // onto a file that stays, one that moves away, one outside the plan;
        // a change of its own letter case only is no clash.
        {in("x1.mp3"), meta("Twin"), meta("Twin"), hold, twins, in("01 Twin.mp3")},
        {in("x2.mp3"), meta("twin"), meta("TWIN"), hold, twins, in("01 TWIN.mp3")},
        {in("x3.mp3"), meta("Stay", "3"), meta("Stay", "3"), hold, taken, in("03 Stay.mp3")},
        {in("03 STAY.mp3"), meta("STAY", "3"), meta("STAY", "3"), hold, unmatched,
         in("03 STAY.mp3"), false},
        {in("x4.mp3"), meta("Gone", "4"), meta("Gone", "4"), change, place, in("04 Gone.mp3")},
        {in("04 Gone.mp3"), meta("Gone", "4"), meta("Gone", "5"), change, "番号・ファイル名・場所",
         in("05 Gone.mp3")},
        {in("x9.mp3"), meta("Outside", "9"), meta("Outside", "9"), hold, taken,
         in("09 Outside.mp3")},
        {in("07 song.mp3"), meta("song", "7"), meta("Song", "7"), change, "曲名・ファイル名・場所",
         in("07 Song.mp3")},
        // Tag bytes read as U+FFFD: a name made of them spells what the tag
        // never did, also where the catalogue corrected the title.
        {in("x5.mp3"), meta("\uFFFDe\uFFFDX", "5"), meta("\uFFFDe\uFFFDX", "5"), hold, undecoded,
         in("x5.mp3")},
        {in("x6.mp3"), meta("Caf\uFFFD", "6"), meta("Cafe", "6"), change,
         "曲名（タグの文字を読み取れないので名前はそのまま）", in("x6.mp3")},
        {in("x7.mp3"), meta("Seven", "7", "A \uFFFD"), meta("Seven", "7", "A \uFFFD"), hold,
         undecoded, in("x7.mp3")}};
    std::vector<fs::path> files;
    std::vector<TrackMeta> read, proposed;
    std::set<std::size_t> matched;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        files.push_back(planner.root / rows[i].source);
        read.push_back(rows[i].read);
        proposed.push_back(rows[i].proposed);
        if (rows[i].matched) matched.insert(i);
    }
    const TidyPlan plan = planner.planItem(files, read, proposed, matched);
    ASSERT_EQ(plan.items.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const TidyItem& item = plan.items[i];
        EXPECT_EQ(std::tie(item.status, item.reason, item.target),
                  std::tie(rows[i].status, rows[i].reason, rows[i].target))
            << item.source;
    }
    // Made again from the stored records alone, every item selected again.
    TidyPlan unselected = plan;
    unselected.items[0].selected = false;
    EXPECT_EQ(planner.replan(unselected).items, plan.items);
    TidyPlanner narrow = planner;
    narrow.nameMax = 6;  // targets made anew; an unmatched item still has no candidate
    const std::vector<TidyItem> again = narrow.replan(plan).items;
    EXPECT_EQ(std::make_tuple(again[0].target, again[1].reason),
              std::make_tuple(in("01 Son.mp3"), unmatched));
}

TEST(TidyPlannerFiles, CatalogueDecidesOnRealFilesAndNobodyIsAskedAboutAnUnreadableOne) {
    TempDir dir;
    const auto music = dir / "Music";
    for (const auto& [name, title, track] : std::vector<std::array<std::string, 3>>{
             {"01 Song.flac", "Song", "1"}, {"tk2.mp3", "Other", "02/12"}, {"\xFF.mp3", "", ""}}) {
        testing::makeTone(music / in(name), {.seconds = 0.2,
                                             .metadata = {{"title", title},
                                                          {"artist", "A Band"},
                                                          {"album_artist", "A Band"},
                                                          {"album", "Night"},
                                                          {"track", track}}});
    }
    writeFile(music / in("broken.m4a"), "not audio at all");
    auto catalog = std::make_shared<testing::RecordingCatalog>();
    catalog->songs["A Band|Song"] = {{.wrapperType = "track",
                                      .artistName = "A Band",
                                      .collectionName = "Night",
                                      .collectionArtistName = "A Band",
                                      .collectionId = 1,
                                      .trackName = "Song",
                                      .trackNumber = 1,
                                      .discNumber = 1}};
    TidyPlanner planner{"/usr/bin/ffmpeg", music, {"A Band"}, catalog};
    std::vector<E> events;
    std::stop_source stop;
    const auto record = [&](const E& event) {
        events.push_back(event);
        if (events.size() > 2 && event.phaseAs<E::Phase::LookingUp>()) stop.request_stop();
    };
    const TidyPlan plan = planner.plan(record, stop.get_token());
    EXPECT_EQ(events, (std::vector<E>{E::scanning(), E::lookingUp(1, 1, "A Band / Night")}));
    std::map<std::string, std::tuple<Status, std::string, std::string>> items;
    for (const TidyItem& item : plan.items) {
        items[item.source] = {item.status, item.reason, item.target};
        EXPECT_TRUE(item.status != hold || item.new_ == item.old) << item.source;
    }
    const std::string undecodable(undecodableNameReason), unreadable(unreadableTagsReason);
    EXPECT_EQ(items, (decltype(items){{in("01 Song.flac"), {same, proper, in("01 Song.flac")}},
                                      {in("tk2.mp3"), {change, place, in("02 Other.mp3")}},
                                      {in("\xFF.mp3"), {hold, undecodable, in("\xFF.mp3")}},
                                      {in("broken.m4a"), {hold, unreadable, in("broken.m4a")}}}));
    EXPECT_EQ(planner.replan(plan).items, plan.items);  // the unreadable stay held
    for (const std::string& question : catalog->questions()) {
        EXPECT_EQ(question.find("broken"), std::string::npos) << question;
    }
    // Stopped during the last lookup, whose album would seem unmatched: no plan.
    EXPECT_THROW(planner.plan(record, stop.get_token()), Cancelled);
    // A reader that fails while others still run passes its error on.
    std::atomic<int> reads = 0;
    planner.readTags = [&](const fs::path&, std::stop_token) -> std::optional<SourceTags> {
        if (++reads == 2) throw std::runtime_error("reader broke");
        return SourceTags{};
    };
    EXPECT_THROW(planner.plan({}, {}), std::runtime_error);
    planner.artists = {"Nobody"};
    EXPECT_THROW(planner.plan({}, {}), ConversionError);  // no audio in the selection
}

// Bytes a tag holds that no reader can spell, as ffmpeg passes them on:
// Shift-JIS in a frame marked UTF-8, Latin-1 in a FLAC comment. No planned
// name holds U+FFFD: those songs keep theirs; their album's other song
// gets its tidy one.
TEST(TidyPlannerFiles, NoPlannedNameHoldsWhatATagCouldNotSpell) {
    TempDir dir;
    const fs::path music = dir / "Music";
    const auto tagged = [&](const std::string& name, const std::string& track) {
        testing::makeTone(music / in(name), {.seconds = 0.2,
                                             .metadata = {{"title", "x"},
                                                          {"artist", "A Band"},
                                                          {"album_artist", "A Band"},
                                                          {"album", "Night"},
                                                          {"track", track}}});
    };
    tagged("tk1.mp3", "1");
    testing::putTitleBytes(music / in("tk1.mp3"), "836583588367");  // test, in Shift-JIS
    tagged("tk2.flac", "2");
    // metaflac writes UTF-8 only: the Latin-1 byte is put in after it.
    const fs::path flac = music / in("tk2.flac");
    const testing::ShellResult set = testing::runCommand(
        {"metaflac", "--remove-tag=TITLE", "--set-tag=TITLE=cafX", flac.string()});
    ASSERT_EQ(set.exitCode, 0);
    std::string bytes = testing::readFile(flac);
    bytes.replace(bytes.find("TITLE=cafX"), 10, "TITLE=caf\xE9");
    writeFile(flac, bytes);
    tagged("tk3.mp3", "3");
    const TidyPlanner planner{"/usr/bin/ffmpeg", music, {}, nullptr};

    const TidyPlan plan = planner.plan({}, {});
    std::map<std::string, std::tuple<Status, std::string, std::string>> items;
    for (const TidyItem& item : plan.items) {
        items[item.source] = {item.status, item.reason, item.target};
        EXPECT_EQ(item.target.find("\uFFFD"), std::string::npos) << item.target;
    }
    EXPECT_EQ(items, (decltype(items){{in("tk1.mp3"), {hold, undecoded, in("tk1.mp3")}},
                                      {in("tk2.flac"), {hold, undecoded, in("tk2.flac")}},
                                      {in("tk3.mp3"), {change, place, in("03 x.mp3")}}}));
    EXPECT_EQ(planner.replan(plan).items, plan.items);
}

}  // namespace
}  // namespace tarvik
