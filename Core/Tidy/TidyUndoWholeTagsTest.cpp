// Apply and undo on real songs whose tag the tidy adds or whose items no
// reader spells: an MP3 whose only tag is ID3v1 (or whose ID3v2 tag holds
// no text), a FLAC file without a comment block or with two, an M4A whose
// title item holds Shift-JIS or stands twice, whose genre is a number, or
// that has no item list. Every reader reads the same song after the apply but for
// the new title (ffprobe, mutagen), and the undo gives every song back
// byte for byte. The songs are made by ffmpeg and changed byte by byte.
#include <gtest/gtest.h>

#include "Core/Convert/ConvertTesting.hpp"
#include "Core/Convert/M4ATesting.hpp"
#include "Core/Convert/TagFields.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidySongTesting.hpp"
#include "Core/Tidy/TidyTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using TagFields::Field;

const fs::path ffmpeg = "/usr/bin/ffmpeg";
const TidyApplier applier{ffmpeg};

// A plan retitling each song in place, its old record read as the planner
// reads it (through ffmpeg).
TidyPlan retitled(const fs::path& music,
                  const std::vector<std::pair<std::string, std::string>>& songs) {
    const auto runner = std::make_shared<const FFmpegRunner>(ffmpeg);
    TidyPlan plan{music.string(), {}, {}};
    for (const auto& [source, title] : songs) {
        plan.items.push_back(testing::retitling(music, source, source, title, runner));
    }
    return plan;
}

nlohmann::json tags(const fs::path& file) {
    return testing::ffprobe(file, "format_tags")
        .at("format")
        .value("tags", nlohmann::json::object());
}

// The trailer's title field up to its padding.
std::string trailerTitle(const fs::path& file) {
    const std::string bytes = testing::readFile(file);
    const std::string field = bytes.substr(bytes.size() - 128 + 3, 30);
    return field.substr(0, field.find('\0'));
}

// An MP3 whose only text is its ID3v1 trailer: it has no ID3v2 tag, or one
// with a cover or padding alone, which readers take for none; its trailer
// in Latin-1, or in UTF-8 as ffmpeg writes it. Retitled, the song reads
// every field it read before but the title, the trailer's title in the
// trailer's own encoding where it fits; the undo gives it back byte for
// byte.
TEST(TidyUndoWholeTags, MP3WhoseOnlyTextIsAnID3v1TrailerKeepsEveryFieldForEveryReader) {
    const std::string japanese = "\u65B0\u3057\u3044\u6B4C", creme = "Cr\u00E8me";
    const std::string utf8 = "Caf\u00E9 \u00C5lbum";
    struct Case {
        const char* what;
        std::string title, inTrailer, album;
        std::optional<bool> cover;  // a tag without text, with a cover or not; none
    };
    const Case cases[] = {
        {"no tag", "New Song", "New Song", "Night", std::nullopt},
        {"no tag, a title the trailer can't hold", japanese, "Song", "Night", std::nullopt},
        {"a cover alone", creme, "Cr\xE8me", "Night", true},
        {"padding alone", creme, "Cr\xE8me", "Night", false},
        {"a trailer in UTF-8, no tag", creme, creme, utf8, std::nullopt},
        {"a trailer in UTF-8, a cover alone", creme, creme, utf8, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing::TempDir dir;
        const fs::path music = dir / "Music";
        fs::create_directories(music);
        testing::makeTone(music / "song.mp3", {.seconds = 0.2,
                                               .metadata = {{"title", "Song"},
                                                            {"artist", "A Band"},
                                                            {"album", c.album},
                                                            {"date", "2003"},
                                                            {"comment", "a note"},
                                                            {"track", "7"},
                                                            {"genre", "AlternRock"}},
                                               .extraArguments = {"-write_id3v1", "1"}});
        if (c.cover) {
            testing::makePicture(dir / "cover.jpg", 8, 8);
            testing::putTextlessTag(music / "song.mp3",
                                    *c.cover ? std::optional(dir / "cover.jpg") : std::nullopt);
        } else {
            testing::removeID3v2(music / "song.mp3");
        }
        const nlohmann::json before = tags(music / "song.mp3");
        ASSERT_EQ(before.size(), 7u) << before;
        ASSERT_EQ(before.value("album", ""), c.album);
        const std::map<std::string, std::string> files = testing::filesBelow(music);

        const TidyResult applied = applier.apply(retitled(music, {{"song.mp3", c.title}}),
                                                 dir / "journals", false, {}, {});
        ASSERT_EQ(applied, (TidyResult{1, 0, applied.journal}));
        nlohmann::json expected = before;
        expected["title"] = c.title;
        EXPECT_EQ(tags(music / "song.mp3"), expected);
        EXPECT_EQ(trailerTitle(music / "song.mp3"), c.inTrailer);

        EXPECT_EQ(applier.undo(*applied.journal, {}, {}), (TidyResult{1, 0, std::nullopt}));
        EXPECT_TRUE(testing::filesBelow(music) == files) << "not byte for byte";
    }
}

// A plan that only clears the title of such an MP3 writes no ID3v2 tag, but
// empties the trailer's title: the undo gives the trailer back, and says
// done only then.
TEST(TidyUndoWholeTags, AClearedFieldComesBackIntoTheTrailer) {
    for (const std::optional<bool> cover : {std::optional<bool>(), std::optional(true)}) {
        SCOPED_TRACE(cover ? "a cover alone" : "no tag");
        testing::TempDir dir;
        const fs::path music = dir / "Music";
        fs::create_directories(music);
        testing::makeTone(music / "song.mp3",
                          {.seconds = 0.2,
                           .metadata = {{"title", "Song"}, {"artist", "A Band"}},
                           .extraArguments = {"-write_id3v1", "1"}});
        if (cover) {
            testing::makePicture(dir / "cover.jpg", 8, 8);
            testing::putTextlessTag(music / "song.mp3", dir / "cover.jpg");
        } else {
            testing::removeID3v2(music / "song.mp3");
        }
        const std::map<std::string, std::string> files = testing::filesBelow(music);

        const TidyResult applied = applier.apply(retitled(music, {{"song.mp3", ""}}),
                                                 dir / "journals", false, {}, {});
        ASSERT_EQ(applied, (TidyResult{1, 0, applied.journal}));
        ASSERT_EQ(trailerTitle(music / "song.mp3"), "");

        EXPECT_EQ(applier.undo(*applied.journal, {}, {}), (TidyResult{1, 0, std::nullopt}));
        EXPECT_TRUE(testing::filesBelow(music) == files) << "not byte for byte";
    }
}

// The values mutagen reads for `key` in the file's tags, as Python shows
// them; `kind` is the reader ("FLAC", "MP4").
std::string mutagenValues(const fs::path& file, const std::string& kind, const std::string& key) {
    const std::string module = kind == "FLAC" ? "flac" : "mp4";
    return testing::outputOf({testing::systemPython, "-c",
                              "import sys; from mutagen." + module + " import " + kind +
                                  "; print(" + kind + "(sys.argv[1]).tags.get(sys.argv[2]))",
                              file.string(), key});
}

// mutagen reads the first comment block only, as some players do.
std::string firstBlockArtists(const fs::path& file) {
    return mutagenValues(file, "FLAC", "artist");
}

TEST(TidyUndoWholeTags, FLACCommentBlockAddedGoesAndEachCommentReturnsToItsBlock) {
    testing::TempDir dir;
    const fs::path music = dir / "Music";
    fs::create_directories(music);
    testing::makeTone(music / "bare.flac", {.seconds = 0.2});
    testing::outputOf(
        {"metaflac", "--remove", "--block-type=VORBIS_COMMENT", (music / "bare.flac").string()});
    testing::makeTone(music / "two.flac",
                      {.seconds = 0.2, .metadata = {{"TITLE", "Cafe"}, {"ARTIST", "a band"}}});
    // The second block opens with an artist of its own.
    testing::addCommentBlock(music / "two.flac", "ARTIST=Second\nMOOD=calm");
    ASSERT_EQ(firstBlockArtists(music / "two.flac"), "['a band']\n");
    const std::map<std::string, std::string> files = testing::filesBelow(music);

    TidyPlan plan = retitled(music, {{"bare.flac", "New"}, {"two.flac", "New"}});
    plan.items[1].new_.artist = "The Band";
    const TidyResult applied = applier.apply(plan, dir / "journals", false, {}, {});
    ASSERT_EQ(applied, (TidyResult{2, 0, applied.journal}));
    EXPECT_EQ(TagFields::read(music / "bare.flac").at(Field::title), "New");
    EXPECT_EQ(TagFields::read(music / "two.flac").at(Field::artist), "The Band");

    EXPECT_EQ(applier.undo(*applied.journal, {}, {}), (TidyResult{2, 0, std::nullopt}));
    EXPECT_EQ(firstBlockArtists(music / "two.flac"), "['a band']\n");
    EXPECT_TRUE(testing::filesBelow(music) == files) << "not byte for byte";
}

// An M4A whose title item a reader can't spell, beside an ordinary song:
// the apply writes the new title, the undo gives both back as they were.
TEST(TidyUndoWholeTags, M4AItemsComeBackAsTheirBytesWhateverReadersMakeOfThem) {
    using namespace testing::m4a;
    const auto title = [](const std::string& text) {
        return box("\xA9nam", box("data", std::string("\0\0\0\x01\0\0\0\0", 8) + text));
    };
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"Shift-JIS in a UTF-8 item", {title("\x83\x65\x83\x58\x83\x67")}},
        {"two title items, read as one or the other", {title("First"), title("Other")}},
    };
    for (const auto& [what, items] : cases) {
        SCOPED_TRACE(what);
        testing::TempDir dir;
        const fs::path music = dir / "Music";
        fs::create_directories(music);
        testing::makeTone(dir / "plain.m4a",
                          {.seconds = 0.2, .metadata = {{"artist", "A Band"}, {"album", "Night"}}});
        std::string song = testing::readFile(dir / "plain.m4a");
        for (const std::string& item : items) song = withItem(song, item);
        testing::writeFile(music / "song.m4a", song);
        testing::makeTone(music / "other.mp3", {.seconds = 0.2, .metadata = {{"title", "x"}}});
        const std::map<std::string, std::string> files = testing::filesBelow(music);

        const TidyResult applied = applier.apply(
            retitled(music, {{"song.m4a", "\u30C6\u30B9\u30C8"}, {"other.mp3", "Other"}}),
            dir / "journals", false, {}, {});
        ASSERT_EQ(applied, (TidyResult{2, 0, applied.journal}));
        EXPECT_EQ(tags(music / "song.m4a").value("title", ""), "\u30C6\u30B9\u30C8");
        EXPECT_EQ(testing::mutagen(music / "song.m4a").value("title", ""), "\u30C6\u30B9\u30C8");

        EXPECT_EQ(applier.undo(*applied.journal, {}, {}), (TidyResult{2, 0, std::nullopt}));
        EXPECT_TRUE(testing::filesBelow(music) == files) << "not byte for byte";
    }
}

std::string mutagenGenres(const fs::path& file) {
    return mutagenValues(file, "MP4", "\u00A9gen");
}

// A genre held as a number of the ID3v1 list, alone or beside a text one,
// is one field: a new genre is all that every reader reads after the
// apply, and the undo gives every item back byte for byte.
TEST(TidyUndoWholeTags, M4AGenreHeldAsANumberIsOneField) {
    using namespace testing::m4a;
    for (const bool alsoText : {false, true}) {
        SCOPED_TRACE(alsoText ? "beside a text genre" : "alone");
        testing::TempDir dir;
        const fs::path music = dir / "Music";
        fs::create_directories(music);
        std::vector<std::pair<std::string, std::string>> metadata = {{"title", "Song"}};
        if (alsoText) metadata.emplace_back("genre", "Rock");
        testing::makeTone(dir / "plain.m4a", {.seconds = 0.2, .metadata = metadata});
        testing::writeFile(music / "song.m4a", withItem(testing::readFile(dir / "plain.m4a"),
                                                        testing::numericGenre(8)));
        ASSERT_EQ(mutagenGenres(music / "song.m4a"),
                  alsoText ? "['Rock', 'Jazz']\n" : "['Jazz']\n");
        const std::map<std::string, std::string> files = testing::filesBelow(music);

        TidyPlan plan = retitled(music, {{"song.m4a", "Song"}});
        plan.items[0].new_.genre = "Blues";
        const TidyResult applied = applier.apply(plan, dir / "journals", false, {}, {});
        ASSERT_EQ(applied, (TidyResult{1, 0, applied.journal}));
        EXPECT_EQ(tags(music / "song.m4a").value("genre", ""), "Blues");
        EXPECT_EQ(mutagenGenres(music / "song.m4a"), "['Blues']\n");

        EXPECT_EQ(applier.undo(*applied.journal, {}, {}), (TidyResult{1, 0, std::nullopt}));
        EXPECT_TRUE(testing::filesBelow(music) == files) << "not byte for byte";
    }
}

// An M4A without an item list gets one where readers look for it, and the
// undo takes away all it added to hold it; a list in a meta of another
// handler, where readers would not look, is refused before anything is
// written.
TEST(TidyUndoWholeTags, M4AWithoutAnItemListGetsOneAndItsUndoTakesItAway) {
    for (const std::string form : {"udta", "meta", "ilst", "foreign"}) {
        SCOPED_TRACE(form);
        testing::TempDir dir;
        const fs::path music = dir / "Music";
        fs::create_directories(music);
        testing::makeTone(dir / "plain.m4a", {.seconds = 0.2});
        testing::writeFile(music / "song.m4a",
                           testing::withoutItemList(testing::readFile(dir / "plain.m4a"), form));
        const std::map<std::string, std::string> files = testing::filesBelow(music);

        std::vector<TidyEvent> events;
        const TidyResult applied =
            applier.apply(retitled(music, {{"song.m4a", "New"}}), dir / "journals", false,
                          [&](const TidyEvent& event) { events.push_back(event); }, {});
        if (form == "foreign") {
            EXPECT_EQ(applied.failed, 1);
            EXPECT_EQ(testing::failuresIn(events),
                      std::vector<std::string>{
                          "song.m4a: iTunes 形式でない meta アトムを持つ M4A には項目を足せません: "
                          "song.m4a"});
            EXPECT_TRUE(testing::filesBelow(music) == files) << "changed";
            continue;
        }
        ASSERT_EQ(applied, (TidyResult{1, 0, applied.journal}));
        EXPECT_EQ(tags(music / "song.m4a").value("title", ""), "New");
        EXPECT_EQ(testing::mutagen(music / "song.m4a").value("title", ""), "New");

        EXPECT_EQ(applier.undo(*applied.journal, {}, {}), (TidyResult{1, 0, std::nullopt}));
        EXPECT_TRUE(testing::filesBelow(music) == files) << "not byte for byte";
    }
}

}  // namespace
}  // namespace tarvik
