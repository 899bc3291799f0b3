#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Core/Convert/AudioFileProbe.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/Script.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {

// Shows failures field by field (found by argument-dependent lookup).
static void PrintTo(const SourceTags& tags, std::ostream* out) {
    *out << "{title \"" << tags.title << "\", artist \"" << tags.artist << "\", albumArtist \""
         << tags.albumArtist << "\", album \"" << tags.album << "\", track \"" << tags.track
         << "\", disc \"" << tags.disc << "\", date \"" << tags.date << "\", genre \"" << tags.genre
         << "\"}";
}

namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::writeFile;
using testing::writeScript;

AudioFileProbe probeWith(const fs::path& program) {
    return AudioFileProbe{std::make_shared<FFmpegRunner>(program)};
}

const std::vector<std::pair<std::string, std::string>> someTags = {
    {"title", "タイトル 1"}, {"artist", "歌手"}, {"album_artist", "Various"}, {"album", "アルバム"},
    {"track", "3/12"},       {"disc", "1/2"},    {"date", "2019-05-01"},      {"genre", "J-Pop"},
};

testing::ToneOptions taggedTone(std::vector<std::string> extraArguments = {}) {
    testing::ToneOptions options;
    options.seconds = 0.2;
    options.metadata = someTags;
    options.extraArguments = std::move(extraArguments);
    return options;
}

TEST(AudioFileProbe, ReadsTheTagsFFmpegWroteInEveryContainer) {
    TempDir temp;
    const SourceTags full{"タイトル 1", "歌手", "Various", "アルバム", "3", "1", "2019", "J-Pop"};
    SourceTags wave = full;  // RIFF INFO has no album artist and no disc
    wave.albumArtist = wave.disc = "";
    struct Case {
        std::string extension;
        std::vector<std::string> extraArguments;
        SourceTags expected;
    };
    const std::vector<Case> cases = {
        {"flac", {}, full},
        {"mp3", {}, full},
        {"m4a", {}, full},
        {"wav", {}, wave},
        {"aiff", {"-write_id3v2", "1"}, full},
    };
    const auto probe = probeWith("/usr/bin/ffmpeg");
    for (const Case& test : cases) {
        const fs::path file =
            temp / "アーティスト 名" / "アルバム フォルダ" / ("01 曲 名." + test.extension);
        testing::makeTone(
            file, {.seconds = 0.2, .metadata = someTags, .extraArguments = test.extraArguments});
        EXPECT_EQ(probe.readTags(file, {}), test.expected) << test.extension;
    }
}

TEST(AudioFileProbe, MissingOrDamagedFileGivesEmptyTags) {
    TempDir temp;
    testing::makeTone(temp / "whole.flac", taggedTone());
    const std::string whole = testing::readFile(temp / "whole.flac");
    writeFile(temp / "truncated.flac", whole.substr(0, 40));
    writeFile(temp / "empty.mp3", "");
    writeFile(temp / "text.m4a", "not audio at all\n");
    fs::create_directory(temp / "folder.flac");
    // ffmpeg would wait in open() for a writer that never comes.
    ASSERT_EQ(::mkfifo((temp / "fifo.flac").c_str(), 0600), 0);
    const auto probe = probeWith("/usr/bin/ffmpeg");
    for (const char* name :
         {"missing.flac", "truncated.flac", "empty.mp3", "text.m4a", "folder.flac", "fifo.flac"}) {
        EXPECT_EQ(probe.readTags(temp / name, {}), SourceTags{}) << name;
    }
}

}  // namespace
}  // namespace tarvik
