#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "Core/Convert/TagEditor.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/Audio.hpp"
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
    TagEditor::write(temp / "Song.MP3", meta, temp / "out.mp3");
    EXPECT_EQ(readFile(temp / "out.mp3").substr(0, 4), "ID3\x03");

    const std::vector<std::pair<std::string, std::string>> refused = {
        {"a.FLAC", "FLAC ではありません: a.FLAC"},
        {"song.mp4", "この形式のタグは書き換えられません: song.mp4"},
        {"song.wav", "この形式のタグは書き換えられません: song.wav"},
        {"a.m4a", "M4A ではありません: a.m4a"},
    };
    for (const auto& [name, message] : refused) {
        EXPECT_EQ(messageOf([&] { TagEditor::write(temp / name, meta, temp / "x"); }),
                  message);
    }
    EXPECT_FALSE(std::filesystem::exists(temp / "x"));
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

    TagEditor::write(source, meta, temp / "out.m4a");

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

nlohmann::json mp4Atoms(const std::filesystem::path& file) {
    return nlohmann::json::parse(run({testing::systemPython,
                                      TARVIK_SOURCE_DIR "/Core/Convert/testdata/mp4_atoms.py",
                                      "dump", file.string()}));
}

// Freeform items, tempo, sort orders and totals are what ffmpeg used to drop.
TEST(TagEditor, M4AKeepsEveryAtomItDoesNotChange) {
    TempDir temp;
    const auto source = temp / "atoms.m4a";
    testing::makeTone(source, {});
    run({testing::systemPython, TARVIK_SOURCE_DIR "/Core/Convert/testdata/mp4_atoms.py", "add",
         source.string()});
    const std::string before = readFile(source);
    writeFile(temp / "out.m4a", "earlier");

    TagEditor::writeM4A(source, meta, temp / "out.m4a");

    EXPECT_EQ(readFile(source), before);
    nlohmann::json expected = mp4Atoms(source);
    // Changed: title, artist, album, track and disc numbers (totals kept), date;
    // genre and album artist are empty in the record, so they are gone.
    expected["\u00A9nam"] = "['Title']";
    expected["\u00A9ART"] = "['Artist']";
    expected["\u00A9alb"] = "['Album']";
    expected["\u00A9day"] = "['2019-04-01']";
    expected["trkn"] = "[(3, 12)]";
    expected["disk"] = "[(1, 2)]";
    expected.erase("\u00A9gen");
    EXPECT_EQ(mp4Atoms(temp / "out.m4a"), expected);
    EXPECT_EQ(filesIn(temp.path()), (std::vector<std::string>{"atoms.m4a", "out.m4a"}));
    run({"ffmpeg", "-nostdin", "-v", "error", "-i", (temp / "out.m4a").string(), "-f", "null",
         "-"});
}

}  // namespace
}  // namespace tarvik
