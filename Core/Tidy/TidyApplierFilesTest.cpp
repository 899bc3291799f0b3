// Apply and undo on real MP3, FLAC and M4A files that ffmpeg made, with
// dates, totals, a genre and a cover (and an ID3v1 trailer on MP3), checked
// by independent readers: mutagen, metaflac and ffmpeg.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "Core/Convert/FFmpegRunner.hpp"
#include "Core/Convert/TagFields.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyFileState.hpp"
#include "Core/Tidy/TidySongTesting.hpp"
#include "Core/Tidy/TidyTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::filesBelow;
using testing::readFile;
using testing::TempDir;
using Args = std::vector<std::string>;

const fs::path ffmpeg = "/usr/bin/ffmpeg";
const TidyApplier applier{ffmpeg};

std::string output(const Args& words) {
    const testing::ShellResult result = testing::runCommand(words);
    EXPECT_EQ(result.exitCode, 0) << words[0] << " " << words.back();
    return result.output;
}

// What each independent reader sees: mutagen's tags ("--untouched": but
// those a correction changes), ffmpeg's audio packets and metaflac's blocks
// other than the comments.
nlohmann::json mutagen(const fs::path& file, const char* fields = "--all") {
    return nlohmann::json::parse(
        output({testing::systemPython, TARVIK_SOURCE_DIR "/Core/Tidy/testdata/tags_dump.py", fields,
                file.string()}));
}
std::string audioDigest(const fs::path& file) {
    return output({"ffmpeg", "-nostdin", "-v", "error", "-i", file.string(), "-map", "0:a", "-c",
                   "copy", "-f", "md5", "-"});
}
std::string flacBlocks(const fs::path& file) {
    return output({"metaflac", "--list", "--except-block-type=VORBIS_COMMENT", file.string()});
}

// A tagged tone with a cover at `file`, made with ffmpeg's defaults for its
// extension and `extra` arguments.
void makeSong(const fs::path& file, const Args& extra, const std::string& title) {
    fs::create_directories(file.parent_path());
    Args words = {"ffmpeg",
                  "-nostdin",
                  "-v",
                  "error",
                  "-f",
                  "lavfi",
                  "-i",
                  "sine=duration=0.3",
                  "-f",
                  "lavfi",
                  "-i",
                  "testsrc=size=32x32:duration=0.04",
                  "-map",
                  "0",
                  "-map",
                  "1",
                  "-disposition:v:0",
                  "attached_pic",
                  "-metadata",
                  "title=" + title};
    for (const char* pair : {"artist=a band", "album_artist=a band", "album=Night", "track=3/12",
                             "disc=1/2", "date=2019-04-01", "genre=Rock"}) {
        words.insert(words.end(), {"-metadata", pair});
    }
    words.insert(words.end(), extra.begin(), extra.end());
    words.push_back(file.string());
    output(words);
}

TEST(TidyApplierFiles, ApplyChangesOnlyItsFieldsAndUndoRestoresTheFilesEvenAfterACrash) {
    TempDir dir;
    const fs::path music = dir / "Music";
    TidyPlan plan{music.string(), {}, {}};
    const Args id3v1 = {"-write_id3v1", "1"}, id3v23 = {"-id3v2_version", "3", "-write_id3v1", "1"};
    const std::vector<std::pair<std::string, Args>> songs = {
        {"mp3", id3v1}, {"mp3", id3v23}, {"flac", {}}, {"m4a", {"-c:v", "mjpeg"}},
        {"flac", {}},   {"mp3", id3v1},  {"flac", {}}};
    const auto runner = std::make_shared<const FFmpegRunner>(ffmpeg);
    for (std::size_t i = 0; i < songs.size(); ++i) {
        const std::string title = "song" + std::to_string(i);
        const std::string name = title + "." + songs[i].first;
        const fs::path file = music / "a band/Night" / name;
        makeSong(file, songs[i].second, title);
        // The last one's genre is not UTF-8: undo must give its bytes back.
        if (i == 6) TagFields::patch(file, {{TagFields::Field::genre, "\xFF\xFERock"}}, file);
        // As the planner would correct it: title and artists, and moved.
        const TrackMeta old = *TidyFileState::currentRecord(file, runner, {});
        TrackMeta fixed = old;
        fixed.title += " (Live in the Great Hall, 2019)";  // beyond the tag's padding
        fixed.artist = fixed.albumArtist = "A Band";
        plan.items.push_back({.source = "a band/Night/" + name,
                              .target = "a band/Night/(Live) " + name,
                              .old = old,
                              .new_ = fixed,
                              .status = TidyItem::Status::change,
                              .reason = {},
                              .tagsChange = true,
                              .pathChange = true,
                              .tagsEditable = true});
    }
    plan.items[6].new_.genre = "Rock";
    // The fifth file is edited after planning; the sixth one's place is taken.
    const fs::path edited = music / plan.items[4].source;
    TagFields::patch(edited, {{TagFields::Field::title, "Edited by hand"}}, edited);
    plan.items[5].target = "a band/Night/taken.mp3";
    testing::writeFile(music / plan.items[5].target, "someone else's");
    const std::map<std::string, std::string> before = filesBelow(music);
    std::vector<nlohmann::json> untouched;
    for (const TidyItem& item : plan.items) {
        untouched.push_back(mutagen(music / item.source, "--untouched"));
    }
    const nlohmann::json m4aTags = mutagen(music / plan.items[3].source);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The program dies after two items: no clean-up, no destructor.
        applier.apply(plan, dir / "crash", false,
                      [](const TidyEvent& event) {
                          const auto* progress = std::get_if<TidyEvent::Progress>(&event.value);
                          if (progress && progress->done == 2) ::_exit(9);
                      },
                      {});
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 9);
    EXPECT_TRUE(fs::exists(music / plan.items[1].target));
    EXPECT_EQ(applier.undo(testing::journalsIn(dir / "crash").at(0), {}, {}),
              (TidyResult{2, 0, std::nullopt}));
    EXPECT_EQ(filesBelow(music), before);

    // The run goes on past the failed items.
    std::vector<TidyEvent> events;
    const auto record = [&](const TidyEvent& event) { events.push_back(event); };
    const TidyResult applied = applier.apply(plan, dir / "journals", false, record, {});
    EXPECT_EQ(applied, (TidyResult{5, 2, applied.journal}));
    using Failed = TidyEvent::Failed;
    ASSERT_EQ(events.size(), 10u);
    EXPECT_EQ(events[5],
              (TidyEvent{Failed{plan.items[4].source, "計画のあとでファイルが変わっています"}}));
    EXPECT_EQ(events[7], (TidyEvent{Failed{plan.items[5].source,
                                           "移動先に同じ名前のファイルがあります: taken.mp3"}}));
    EXPECT_EQ(readFile(edited), before.at(plan.items[4].source));
    // The sixth's place is taken: it got neither its place nor its tags.
    EXPECT_EQ(readFile(music / plan.items[5].source), before.at(plan.items[5].source));
    EXPECT_EQ(TagFields::read(music / plan.items[6].target).at(TagFields::Field::genre), "Rock");
    for (std::size_t i = 0; i < 4; ++i) {
        const TidyItem& item = plan.items[i];
        SCOPED_TRACE(item.source);
        const nlohmann::json after = mutagen(music / item.target);
        EXPECT_EQ(mutagen(music / item.target, "--untouched"), untouched[i]);
        EXPECT_NE(after.dump().find(item.new_.title), std::string::npos) << after;
        EXPECT_NE(after.dump().find("A Band"), std::string::npos) << after;
        testing::writeFile(dir / "original", before.at(item.source));
        EXPECT_EQ(audioDigest(music / item.target), audioDigest(dir / "original"));
        if (item.source.ends_with("flac")) {
            EXPECT_EQ(flacBlocks(music / item.target), flacBlocks(dir / "original"));
        }
    }

    EXPECT_EQ(applier.undo(testing::journalsIn(dir / "journals").at(0), {}, {}),
              (TidyResult{5, 0, std::nullopt}));
    EXPECT_FALSE(fs::exists(music / "A Band"));
    // Every song comes back whole, the M4A's items (changed item by item) too.
    EXPECT_EQ(mutagen(music / plan.items[3].source), m4aTags);
    EXPECT_EQ(audioDigest(music / plan.items[3].source), audioDigest(dir / "original"));
    EXPECT_TRUE(filesBelow(music) == before) << "not byte for byte";
}

TEST(TidyApplierFiles, SongWithShiftJISInAFrameMarkedUTF8IsTidiedAndUndoneByteForByte) {
    TempDir dir;
    const fs::path music = dir / "Music";
    const std::string love = "\u604B\u306E\u6B4C";
    makeSong(music / "old/01.mp3", {}, "song");
    testing::putTitleBytes(music / "old/01.mp3", "97f682cc89cc");  // love in Shift-JIS
    makeSong(music / "a band/Night/02.mp3", {}, "song");
    const auto runner = std::make_shared<const FFmpegRunner>(ffmpeg);
    TidyPlan plan{music.string(), {}, {}};
    for (const auto& [source, target, title] :
         {std::tuple{"old/01.mp3", "old/01 " + love + ".mp3", love},
          std::tuple{"a band/Night/02.mp3", std::string("a band/Night/02 Song.mp3"),
                     std::string("Song")}}) {
        plan.items.push_back(testing::retitling(music, source, target, title, runner));
    }
    const std::map<std::string, std::string> before = filesBelow(music);

    const TidyResult applied = applier.apply(plan, dir / "journals", false, {}, {});
    EXPECT_EQ(applied, (TidyResult{2, 0, applied.journal}));
    EXPECT_EQ(TagFields::read(music / plan.items[0].target).at(TagFields::Field::title), love);

    EXPECT_EQ(applier.undo(*applied.journal, {}, {}), (TidyResult{2, 0, std::nullopt}));
    EXPECT_TRUE(filesBelow(music) == before) << "not byte for byte";
}

// A long title fills a file name up to the system's limit (255 bytes): the
// temporary beside it must still have a name.
TEST(TidyFileState, SongWhoseNameFillsTheLimitIsRetagged) {
    TempDir dir;
    std::string stem;
    for (int i = 0; i < 82; ++i) stem += "\u66F2";  // three bytes each
    const fs::path file = dir / "Night" / (stem + ".mp3");
    ASSERT_EQ(file.filename().string().size(), 250u);
    makeSong(file, {}, "song");
    TidyFileState::rewrite(file, {{TagFields::Field::title, "Song"}});
    EXPECT_EQ(TagFields::read(file).at(TagFields::Field::title), "Song");
    EXPECT_EQ(filesBelow(dir / "Night").size(), 1u);
}

// A rewrite whose result is empty (an empty song whose only tag change is
// a removal) never replaces the song: the item fails and nothing is left.
TEST(TidyApplierFiles, RewriteThatLeavesNothingFailsTheItemAndKeepsTheSong) {
    TempDir dir;
    const fs::path music = dir / "Music";
    testing::writeFile(music / "a band/song.mp3", "");
    TidyItem item = testing::moving("a band/song.mp3", "a band/song.mp3", music);
    item.old = item.new_ = *TidyFileState::currentRecord(music / item.source, nullptr, {});
    ASSERT_FALSE(item.old.title.empty());  // guessed from the name
    item.new_.title = "";
    item.tagsChange = item.tagsEditable = true;
    std::vector<TidyEvent> events;
    const TidyResult result =
        TidyApplier{}.apply({music.string(), {}, {item}}, dir / "journals", false,
                            [&](const TidyEvent& event) { events.push_back(event); }, {});
    EXPECT_EQ(result.failed, 1);
    EXPECT_EQ(testing::failuresIn(events),
              std::vector<std::string>{"a band/song.mp3: タグの書き換えに失敗しました"});
    EXPECT_EQ(filesBelow(music), (std::map<std::string, std::string>{{"a band/song.mp3", ""}}));
}

// A tag change and its undo leave the song's owner and group, mode and
// extended attributes as they were, in every format.
TEST(TidyApplierFiles, TagChangesKeepTheSongsOwnerModeAndExtendedAttributes) {
    TempDir dir;
    const fs::path music = dir / "Music";
    const bool root = ::geteuid() == 0;
    for (const auto& [name, extra] : std::vector<std::pair<std::string, Args>>{
             {"song.mp3", {}}, {"song.flac", {}}, {"song.m4a", {"-c:v", "mjpeg"}}}) {
        SCOPED_TRACE(name);
        const fs::path file = music / name;
        makeSong(file, extra, "song");
        if (root) {
            ASSERT_EQ(::chown(file.c_str(), 4321, 8765), 0);
        }
        ASSERT_EQ(::chmod(file.c_str(), 0604), 0);
        const std::string origin = "ripped in 2009";
        if (::setxattr(file.c_str(), "user.tarvik.origin", origin.data(), origin.size(), 0) != 0) {
            GTEST_SKIP() << "the temporary folder's file system keeps no extended attributes";
        }
        const auto expectKept = [&](const char* when) {
            SCOPED_TRACE(when);
            struct stat facts {};
            ASSERT_EQ(::stat(file.c_str(), &facts), 0);
            EXPECT_EQ(facts.st_mode & 07777, 0604u);
            if (root) {
                EXPECT_EQ(facts.st_uid, 4321u);
                EXPECT_EQ(facts.st_gid, 8765u);
            }
            std::string value(64, '\0');
            const ssize_t length =
                ::getxattr(file.c_str(), "user.tarvik.origin", value.data(), value.size());
            EXPECT_EQ(value.substr(0, static_cast<std::size_t>(std::max<ssize_t>(length, 0))),
                      origin);
        };
        const TidyResult applied = TidyApplier{}.apply(
            {music.string(), {}, {testing::retitling(music, name, name, "Song")}}, dir / "journals",
            false, {}, {});
        ASSERT_EQ(applied.done, 1);
        EXPECT_EQ(TagFields::read(file).at(TagFields::Field::title), "Song");
        expectKept("applied");
        EXPECT_EQ(TidyApplier{}.undo(*applied.journal, {}, {}).failed, 0);
        EXPECT_EQ(TagFields::read(file).at(TagFields::Field::title), "song");
        expectKept("undone");
    }
}

}  // namespace
}  // namespace tarvik
