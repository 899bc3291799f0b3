#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stop_token>
#include <string>
#include <vector>

#include "Core/Convert/FFmpegRunner.hpp"
#include "Core/Convert/TagEditor.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/Script.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

const TrackMeta meta("Title", "Artist", "", "Album", "3", "1", "2019-04-01", "");

std::vector<std::string> filesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "no error";
}

TEST(TagEditor, ChoosesTheFormatByTheExtension) {
    const std::vector<std::pair<std::string, bool>> editable = {
        {"a.mp3", true},  {"a.Mp3", true},  {"a.FLAC", true}, {"a.m4a", true},
        {"a.mp4", false}, {"a.wav", false}, {"mp3", false},   {"a.mp3.bak", false}};
    for (const auto& [name, expected] : editable)
        EXPECT_EQ(TagEditor::canEdit(name), expected) << name;

    TempDir temp;
    for (const char* name : {"Song.MP3", "a.FLAC", "song.mp4", "song.wav", "a.m4a"}) {
        writeFile(temp / name, "not audio at all");
    }
    TagEditor::write(temp / "Song.MP3", meta, temp / "out.mp3", nullptr, {});
    EXPECT_EQ(readFile(temp / "out.mp3").substr(0, 4), "ID3\x03");

    const std::vector<std::pair<std::string, std::string>> refused = {
        {"a.FLAC", "FLAC ではありません: a.FLAC"},
        {"song.mp4", "この形式のタグは書き換えられません: song.mp4"},
        {"song.wav", "この形式のタグは書き換えられません: song.wav"},
        {"a.m4a", "m4a のタグ書き換えには ffmpeg が必要です"},
    };
    for (const auto& [name, message] : refused) {
        EXPECT_EQ(messageOf([&] { TagEditor::write(temp / name, meta, temp / "x", nullptr, {}); }),
                  message);
    }
    EXPECT_FALSE(std::filesystem::exists(temp / "x"));
}

TEST(TagEditor, M4AGoesThroughFFmpegWithEveryKeyAndLandsWhole) {
    TempDir temp;
    // Records its arguments and writes the file it was asked to write.
    FFmpegRunner runner(testing::writeScript(temp / "ffmpeg", R"(
printf '%s\n' "$@" > ")" + (temp / "arguments").string() + R"("
for last; do :; done
printf tagged > "$last")"));
    std::filesystem::create_directories(temp / "out");
    TagEditor::writeM4A("/music/in.m4a", meta, temp / "out" / "song.m4a", runner, {});

    std::vector<std::string> arguments;
    std::istringstream lines(readFile(temp / "arguments"));
    for (std::string line; std::getline(lines, line);) arguments.push_back(line);
    ASSERT_EQ(arguments.size(), 34U);
    const std::vector<std::string> expected = {"-nostdin",
                                               "-hide_banner",
                                               "-y",
                                               "-loglevel",
                                               "error",
                                               "-i",
                                               "/music/in.m4a",
                                               "-map",
                                               "0",
                                               "-c",
                                               "copy",
                                               "-map_metadata",
                                               "0",
                                               "-fflags",
                                               "+bitexact",
                                               "-metadata",
                                               "title=Title",
                                               "-metadata",
                                               "artist=Artist",
                                               "-metadata",
                                               "album=Album",
                                               "-metadata",
                                               "album_artist=",
                                               "-metadata",
                                               "track=3",
                                               "-metadata",
                                               "disc=1",
                                               "-metadata",
                                               "date=2019-04-01",
                                               "-metadata",
                                               "genre=",
                                               "-f",
                                               "ipod"};
    EXPECT_EQ(std::vector<std::string>(arguments.begin(), arguments.end() - 1), expected);
    // ffmpeg writes a hidden file beside the destination, moved into place afterwards.
    const std::filesystem::path written = arguments.back();
    EXPECT_EQ(written.parent_path(), temp / "out");
    EXPECT_EQ(written.filename().string().rfind(".tarvik-", 0), 0U);
    EXPECT_EQ(filesIn(temp / "out"), std::vector<std::string>{"song.m4a"});
    EXPECT_EQ(readFile(temp / "out" / "song.m4a"), "tagged");
}

TEST(TagEditor, FailedOrStoppedM4AEditLeavesTheDestinationAsItWas) {
    TempDir temp;
    FFmpegRunner failing(testing::writeScript(temp / "ffmpeg", R"(
for last; do :; done
printf half > "$last"
echo 'in.m4a: Invalid data found when processing input' >&2
exit 1)"));
    writeFile(temp / "out" / "song.m4a", "earlier");
    try {
        TagEditor::writeM4A(temp / "in.m4a", meta, temp / "out" / "song.m4a", failing, {});
        ADD_FAILURE() << "no error";
    } catch (const FFmpegError& error) {
        EXPECT_EQ(error.exitCode(), 1);
        EXPECT_STREQ(error.what(), "in.m4a: Invalid data found when processing input");
    }

    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_THROW(TagEditor::write(temp / "in.m4a", meta, temp / "out" / "song.m4a", &failing,
                                  stopped.get_token()),
                 Cancelled);
    EXPECT_EQ(filesIn(temp / "out"), std::vector<std::string>{"song.m4a"});
    EXPECT_EQ(readFile(temp / "out" / "song.m4a"), "earlier");
}

std::string run(const std::vector<std::string>& words) {
    testing::ShellResult result = testing::runCommand(words);
    EXPECT_EQ(result.exitCode, 0) << words[0];
    return result.output;
}

TEST(TagEditor, RealM4AKeepsItsCoverAndShowsTheNewTags) {
    TempDir temp;
    testing::makeTone(temp / "tone.m4a", {});
    run({"ffmpeg", "-nostdin", "-loglevel", "error", "-f", "lavfi", "-i", "color=blue:size=32x32",
         "-frames:v", "1", (temp / "cover.jpg").string()});
    const auto source = temp / "in.m4a";
    run({"ffmpeg",
         "-nostdin",
         "-loglevel",
         "error",
         "-i",
         (temp / "tone.m4a").string(),
         "-i",
         (temp / "cover.jpg").string(),
         "-map",
         "0",
         "-map",
         "1",
         "-c",
         "copy",
         "-disposition:v:0",
         "attached_pic",
         "-metadata",
         "title=Old",
         "-metadata",
         "genre=Pop",
         "-metadata",
         "composer=Someone",
         source.string()});
    const std::string before = readFile(source);

    FFmpegRunner runner("/usr/bin/ffmpeg");
    TagEditor::write(source, meta, temp / "out.m4a", &runner, {});

    EXPECT_EQ(readFile(source), before);
    nlohmann::json probed =
        nlohmann::json::parse(run({"ffprobe", "-v", "error", "-show_entries",
                                   "format_tags:stream=codec_type:stream_disposition=attached_pic",
                                   "-of", "json", (temp / "out.m4a").string()}));
    const nlohmann::json& tags = probed["format"]["tags"];
    EXPECT_EQ(tags["title"], "Title");
    EXPECT_EQ(tags["artist"], "Artist");
    EXPECT_EQ(tags["album"], "Album");
    EXPECT_EQ(tags["track"], "3");
    EXPECT_EQ(tags["disc"], "1");
    EXPECT_EQ(tags["date"], "2019-04-01");
    EXPECT_EQ(tags["composer"], "Someone");  // other tags stay
    EXPECT_FALSE(tags.contains("genre")) << tags;
    ASSERT_EQ(probed["streams"].size(), 2U) << probed;
    EXPECT_EQ(probed["streams"][1]["codec_type"], "video");
    EXPECT_EQ(probed["streams"][1]["disposition"]["attached_pic"], 1);
}

}  // namespace
}  // namespace tarvik
