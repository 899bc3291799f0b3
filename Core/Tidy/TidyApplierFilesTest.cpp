// Apply and undo on real MP3, FLAC and M4A files that ffmpeg made, with
// dates, totals, a genre and a cover (and an ID3v1 trailer on MP3), checked
// by independent readers: mutagen, metaflac and ffmpeg.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "Core/Convert/FFmpegRunner.hpp"
#include "Core/Convert/ID3Tag.hpp"
#include "Core/Convert/TagFields.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Tidy/TidyApplier.hpp"
#include "Core/Tidy/TidyFileState.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::readFile;

const fs::path ffmpeg = "/usr/bin/ffmpeg";

std::string output(const std::vector<std::string>& words) {
    const testing::ShellResult result = testing::runCommand(words);
    EXPECT_EQ(result.exitCode, 0) << words[0] << " " << words.back();
    return result.output;
}

nlohmann::json mutagen(const fs::path& file) {
    return nlohmann::json::parse(output(
        {testing::systemPython, TARVIK_SOURCE_DIR "/Core/Tidy/testdata/tags_dump.py", file.string()}));
}

// The audio packets, as ffmpeg reads them.
std::string audioDigest(const fs::path& file) {
    return output({"ffmpeg", "-nostdin", "-v", "error", "-i", file.string(), "-map", "0:a", "-c",
                   "copy", "-f", "md5", "-"});
}

struct Format {
    std::string extension;
    std::vector<std::string> arguments;  // after the inputs
};

const std::vector<Format> formats = {
    {"mp3", {"-c:a", "libmp3lame", "-write_id3v1", "1"}},
    {"mp3", {"-c:a", "libmp3lame", "-id3v2_version", "3", "-write_id3v1", "1"}},
    {"flac", {"-c:a", "flac"}},
    {"m4a", {"-c:a", "aac", "-c:v", "copy"}},
};

// A tagged tone with a cover at `file`.
void makeSong(const fs::path& file, const Format& format, const std::string& title) {
    TempDir work;
    testing::makeTone(work / "tone.wav", {.seconds = 0.3});
    testing::makePicture(work / "cover.jpg", 32, 32);
    fs::create_directories(file.parent_path());
    std::vector<std::string> words = {"ffmpeg", "-nostdin", "-v", "error", "-y", "-i",
                                      (work / "tone.wav").string(), "-i",
                                      (work / "cover.jpg").string(), "-map", "0", "-map", "1",
                                      "-disposition:v:0", "attached_pic"};
    for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{
             {"title", title}, {"artist", "a band"}, {"album_artist", "a band"},
             {"album", "Night"}, {"track", "3/12"}, {"disc", "1/2"}, {"date", "2019-04-01"},
             {"genre", "Rock"}}) {
        words.push_back("-metadata");
        words.push_back(key + "=" + value);
    }
    words.insert(words.end(), format.arguments.begin(), format.arguments.end());
    words.push_back(file.string());
    output(words);
}

// The item the planner would make: title and artists corrected, moved.
TidyItem correction(const fs::path& root, const std::string& source, const std::string& target) {
    TidyItem item;
    const auto runner = std::make_shared<const FFmpegRunner>(ffmpeg);
    item.old = *TidyFileState::currentRecord(root / source, runner, {});
    item.new_ = item.old;
    item.new_.title += " (Live)";
    item.new_.artist = item.new_.albumArtist = "A Band";
    item.source = source;
    item.target = target;
    item.status = TidyItem::Status::change;
    item.tagsChange = item.pathChange = item.tagsEditable = true;
    return item;
}

// What the readers see of the fields the item did not change.
nlohmann::json untouched(nlohmann::json dump, const std::string& extension) {
    if (extension == "flac") {
        nlohmann::json kept = nlohmann::json::array();
        for (const auto& pair : dump["comments"]) {
            std::string key = pair[0];
            for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (key != "TITLE" && key != "ARTIST" && key != "ALBUMARTIST") kept.push_back(pair);
        }
        dump["comments"] = kept;
        return dump;
    }
    for (const char* key : {"TIT2", "TPE1", "TPE2", "\u00A9nam", "\u00A9ART", "aART"}) dump.erase(key);
    return dump;
}

std::vector<Bytes> keptID3Frames(const fs::path& file) {
    const std::string text = readFile(file);
    const Bytes bytes(text.begin(), text.end());
    std::vector<Bytes> frames;
    for (const id3::Frame& frame : id3::parseTag(bytes).frames) {
        if (frame.id != "TIT2" && frame.id != "TPE1" && frame.id != "TPE2") frames.push_back(frame.raw);
    }
    return frames;
}

TEST(TidyApplierFiles, ApplyChangesOnlyItsFieldsAndUndoRestoresTheFile) {
    for (const Format& format : formats) {
        SCOPED_TRACE(format.extension + " " + std::to_string(format.arguments.size()));
        TempDir dir;
        const fs::path music = dir / "Music";
        const std::string source = "a band/Night/song." + format.extension;
        const std::string target = "A Band/Night/03 Song (Live)." + format.extension;
        makeSong(music / source, format, "Song");
        const fs::path original = dir / ("original." + format.extension);
        fs::copy_file(music / source, original);
        const std::string before = readFile(music / source);
        const nlohmann::json tagsBefore = mutagen(music / source);
        const std::string audio = audioDigest(music / source);

        const TidyPlan plan{music.string(), {}, {correction(music, source, target)}};
        const TidyResult result = TidyApplier{ffmpeg}.apply(plan, dir / "journals", false, {}, {});
        ASSERT_EQ(result.done, 1);
        ASSERT_FALSE(fs::exists(music / source));
        const nlohmann::json tagsAfter = mutagen(music / target);
        EXPECT_EQ(untouched(tagsAfter, format.extension), untouched(tagsBefore, format.extension));
        EXPECT_NE(tagsAfter.dump().find("Song (Live)"), std::string::npos) << tagsAfter;
        EXPECT_NE(tagsAfter.dump().find("A Band"), std::string::npos) << tagsAfter;
        EXPECT_EQ(audioDigest(music / target), audio);
        if (format.extension == "mp3") {
            EXPECT_EQ(keptID3Frames(music / target), keptID3Frames(original));
        }
        if (format.extension == "flac") {
            const auto blocks = [](const fs::path& file) {
                return output({"metaflac", "--list", "--except-block-type=VORBIS_COMMENT",
                               file.string()});
            };
            EXPECT_EQ(blocks(music / target), blocks(original));
        }

        const TidyResult undone = TidyApplier{ffmpeg}.undo(*result.journal, {}, {});
        EXPECT_EQ(undone, (TidyResult{1, 0, std::nullopt}));
        EXPECT_FALSE(fs::exists(music / "A Band"));
        EXPECT_EQ(mutagen(music / source), tagsBefore);
        EXPECT_EQ(audioDigest(music / source), audio);
        if (format.extension != "m4a") {
            // M4A items are rendered again by TagLib; the others come back whole.
            EXPECT_TRUE(readFile(music / source) == before) << "not byte for byte";
        }
    }
}

// Several songs of one album in `music`, and the plan correcting them all.
TidyPlan albumPlan(const fs::path& music, const std::vector<std::string>& extensions) {
    TidyPlan plan{music.string(), {}, {}};
    for (std::size_t i = 0; i < extensions.size(); ++i) {
        const Format& format = *std::find_if(formats.begin(), formats.end(), [&](const Format& f) {
            return f.extension == extensions[i];
        });
        const std::string name = "song" + std::to_string(i);
        makeSong(music / ("a band/Night/" + name + "." + format.extension), format, name);
        plan.items.push_back(correction(music, "a band/Night/" + name + "." + format.extension,
                                        "A Band/Night/" + name + " (Live)." + format.extension));
    }
    return plan;
}

TEST(TidyApplierFiles, CrashMidwayIsUndoneToTheByte) {
    TempDir dir;
    const fs::path music = dir / "Music";
    const TidyPlan plan = albumPlan(music, {"flac", "mp3", "flac"});
    const std::map<std::string, std::string> before = testing::filesBelow(music);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The program dies before the third item: no clean-up, no destructor.
        TidyApplier{ffmpeg}.apply(
            plan, dir / "journals", false,
            [](const TidyEvent& event) {
                const auto* progress = std::get_if<TidyEvent::Progress>(&event.value);
                if (progress && progress->done == 2) ::_exit(9);
            },
            {});
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 9);
    EXPECT_TRUE(fs::exists(music / "A Band/Night/song1 (Live).mp3"));
    EXPECT_TRUE(fs::exists(music / "a band/Night/song2.flac"));

    std::vector<fs::path> journals(fs::directory_iterator(dir / "journals"), {});
    ASSERT_EQ(journals.size(), 1u);
    EXPECT_EQ(TidyApplier{ffmpeg}.undo(journals[0], {}, {}), (TidyResult{2, 0, std::nullopt}));
    EXPECT_EQ(testing::filesBelow(music), before);
}

TEST(TidyApplierFiles, FileEditedSincePlanningIsLeftAlone) {
    TempDir dir;
    const fs::path music = dir / "Music";
    const TidyPlan plan = albumPlan(music, {"mp3", "flac"});
    const fs::path edited = music / plan.items[0].source;
    TagFields::patch(edited, {{TagFields::Field::title, "Edited by hand"}}, edited);
    const std::map<std::string, std::string> before = testing::filesBelow(music);

    std::vector<TidyEvent> events;
    const TidyResult result = TidyApplier{ffmpeg}.apply(
        plan, dir / "journals", false, [&](const TidyEvent& event) { events.push_back(event); }, {});
    EXPECT_EQ(result.done, 1);
    EXPECT_EQ(result.failed, 1);
    EXPECT_EQ(events[1], (TidyEvent{TidyEvent::Failed{plan.items[0].source,
                                                      "計画のあとでファイルが変わっています"}}));
    EXPECT_EQ(readFile(edited), before.at(plan.items[0].source));
}

TEST(TidyApplierFiles, LineThatCannotBeRecordedStopsBeforeTheChange) {
    TempDir dir;
    const fs::path music = dir / "Music";
    TidyPlan plan = albumPlan(music, {"flac", "flac"});
    // A genre whose bytes are not UTF-8: the journal can't hold it, so the
    // change that would replace it must not happen.
    const fs::path second = music / plan.items[1].source;
    TagFields::patch(second, {{TagFields::Field::genre, "\xFF\xFERock"}}, second);
    plan.items[1] = correction(music, plan.items[1].source, plan.items[1].target);
    plan.items[1].new_.genre = "Rock";
    const std::map<std::string, std::string> before = testing::filesBelow(music);

    EXPECT_THROW(TidyApplier{ffmpeg}.apply(plan, dir / "journals", false, {}, {}), JournalError);
    const auto after = testing::filesBelow(music);
    EXPECT_EQ(after.at("a band/Night/song1.flac"), before.at("a band/Night/song1.flac"));
    EXPECT_EQ(after.count("A Band/Night/song0 (Live).flac"), 1u);  // the first was done
}

TEST(TidyApplierFiles, TagsWrittenThenATakenPlaceIsUndoneToo) {
    TempDir dir;
    const fs::path music = dir / "Music";
    const TidyPlan plan = albumPlan(music, {"mp3"});
    testing::writeFile(music / plan.items[0].target, "someone else's");
    const std::string before = readFile(music / plan.items[0].source);

    const TidyResult result = TidyApplier{ffmpeg}.apply(plan, dir / "journals", false, {}, {});
    EXPECT_EQ(result.failed, 1);
    EXPECT_NE(readFile(music / plan.items[0].source), before);  // new tags, old place
    EXPECT_EQ(readFile(music / plan.items[0].target), "someone else's");
    EXPECT_EQ(TidyApplier{ffmpeg}.undo(*result.journal, {}, {}), (TidyResult{1, 0, std::nullopt}));
    EXPECT_EQ(readFile(music / plan.items[0].source), before);
}

}  // namespace
}  // namespace tarvik
