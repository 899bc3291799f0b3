#include "Core/Convert/AudioFileProbe.hpp"
#include "Core/Convert/ConvertTesting.hpp"

namespace tarvik {
namespace {

// Missing, damaged and non-regular files give empty tags; ffmpeg would wait
// in open() for a FIFO's writer that never comes.
TEST(AudioFileProbe, ReadsTheTagsFFmpegWroteInEveryContainer) {
    TempDir temp;
    const std::vector<std::pair<std::string, std::string>> written = {
        {"title", "タイトル 1"}, {"artist", "歌手"}, {"album_artist", "Various"},
        {"album", "アルバム"},   {"track", "3/12"},  {"disc", "1/2"},
        {"date", "2019-05-01"},  {"genre", "J-Pop"}};
    const SourceTags full{"タイトル 1", "歌手", "Various", "アルバム", "3", "1", "2019", "J-Pop"};
    SourceTags wave = full;  // RIFF INFO has no album artist and no disc
    wave.albumArtist = wave.disc = "";
    const AudioFileProbe probe{std::make_shared<FFmpegRunner>("/usr/bin/ffmpeg")};
    const fs::path folder = temp / "アーティスト 名" / "アルバム フォルダ";
    for (const std::string extension : {"flac", "mp3", "m4a", "wav", "aiff"}) {
        const fs::path file = folder / ("01 曲 名." + extension);
        testing::ToneOptions tone{.seconds = 0.2, .metadata = written};
        if (extension == "aiff") tone.extraArguments = {"-write_id3v2", "1"};
        testing::makeTone(file, tone);
        EXPECT_TRUE(probe.readTags(file, {}) == (extension == "wav" ? wave : full)) << extension;
    }
    writeFile(temp / "truncated.flac", readFile(folder / "01 曲 名.flac").substr(0, 40));
    ASSERT_EQ(::mkfifo((temp / "fifo.flac").c_str(), 0600), 0);
    for (const char* name : {"missing.flac", "truncated.flac", "fifo.flac"}) {
        EXPECT_TRUE(probe.readTags(temp / name, {}) == SourceTags{}) << name;
    }
}

}  // namespace
}  // namespace tarvik
