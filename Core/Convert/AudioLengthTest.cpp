// Lengths from the files' own headers where those mislead: the audio's own
// length as ffprobe reads the audio stream, or none where the headers hold
// no true one; and whether a file's bytes are all there that its headers
// speak of. Files made by ffmpeg, a few of them changed byte by byte.
#include <gtest/gtest.h>

#include <functional>

#include "Core/Convert/AudioLength.hpp"
#include "Core/Convert/ConvertTesting.hpp"
#include "Core/Platform/FileStreams.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::ToneOptions;

AudioLength::Reading readingOf(const fs::path& file) {
    FileSource source(file);
    return AudioLength::read(source);
}

// The audio stream's duration as ffprobe tells it; nothing for "N/A".
std::optional<double> probed(const fs::path& file) {
    const nlohmann::json probe = testing::ffprobe(file, "stream=codec_type,duration");
    for (const auto& stream : probe["streams"]) {
        if (stream.value("codec_type", "") != "audio") continue;
        if (!stream.contains("duration")) return std::nullopt;
        return std::stod(stream["duration"].get<std::string>());
    }
    return std::nullopt;
}

// The chunk `id` of a WAV file and its offset.
std::size_t chunkAt(const std::string& wave, std::string_view id) {
    const std::size_t at = wave.find(id, 12);
    EXPECT_NE(at, std::string::npos) << id;
    return at;
}

void changeFile(const fs::path& file, const std::function<void(std::string&)>& change) {
    std::string bytes = testing::readFile(file);
    change(bytes);
    testing::writeFile(file, bytes);
}

// A chunk's size in a WAV file, little-endian.
void setChunkSize(std::string& wave, std::string_view id, std::uint32_t size) {
    const std::size_t at = chunkAt(wave, id);
    for (int byte = 0; byte < 4; ++byte)
        wave[at + 4 + byte] = static_cast<char>(size >> (8 * byte));
}

TEST(AudioLength, TheAudiosOwnLengthOrNone) {
    struct Case {
        std::string name;
        ToneOptions tone;
        std::function<void(std::string&)> change;
        bool told;  // the headers hold a true length
    };
    const std::vector<Case> cases = {
        {"piped.flac", {.pipedFormat = "flac"}, {}, false},
        {"piped.wav", {.pipedFormat = "wav"}, {}, true},
        {"zero-data.wav", {}, [](std::string& w) { setChunkSize(w, "data", 0); }, true},
        {"rf64.wav", {.extraArguments = {"-rf64", "always"}}, {}, true},
        {"data-before-format.wav",
         {},
         [](std::string& w) {
             // "fmt " and what follows up to "data" go behind the data.
             const std::size_t format = chunkAt(w, "fmt "), data = chunkAt(w, "data");
             w = w.substr(0, format) + w.substr(data) + w.substr(format, data - format);
         },
         true},
        {"adpcm.wav", {.extraArguments = {"-c:a", "adpcm_ms"}}, {}, true},
        {"adpcm-without-count.wav",
         {.extraArguments = {"-c:a", "adpcm_ms"}},
         [](std::string& w) { w.replace(chunkAt(w, "fact"), 4, "xact"); },
         false},
        {"edited.m4a", {}, {}, true},
        {"video-longer.m4a", {}, {}, true},
        {"fragmented.m4a",
         {.extraArguments = {"-movflags", "frag_keyframe+empty_moov"}},
         {},
         false},
    };
    testing::TempDir temp;
    for (Case c : cases) {
        SCOPED_TRACE(c.name);
        c.tone.seconds = 2.5;
        testing::makeTone(temp / c.name, c.tone);
        if (c.name == "video-longer.m4a") {
            // Six seconds of picture beside the audio: the movie lasts six.
            fs::rename(temp / c.name, temp / "audio.m4a");
            testing::outputOf({"ffmpeg", "-nostdin", "-loglevel", "error", "-i",
                               (temp / "audio.m4a").string(), "-f", "lavfi", "-i",
                               "color=size=32x32:duration=6", "-c:a", "copy", "-c:v", "mpeg4",
                               (temp / c.name).string()});
        }
        if (c.change) changeFile(temp / c.name, c.change);
        const std::optional<double> seconds = readingOf(temp / c.name).seconds;
        if (!c.told) {
            EXPECT_EQ(seconds, std::nullopt);
            continue;
        }
        ASSERT_TRUE(seconds);
        EXPECT_NEAR(*seconds, 2.5, 0.05);
        if (const std::optional<double> ffprobe = probed(temp / c.name)) {
            EXPECT_NEAR(*seconds, *ffprobe, 0.1);
        }
    }
}

// A cover of 300 KB in front: the frames are found behind it.
TEST(AudioLength, AnMP3BehindATagLargerThanTheSyncSearch) {
    testing::TempDir temp;
    testing::makeTone(temp / "cover.mp3", {.seconds = 2.5, .metadata = {{"title", "Song"}}});
    testing::runCommand({testing::systemPython, "-c",
                         "import sys, os\n"
                         "from mutagen.id3 import ID3, APIC\n"
                         "tag = ID3(sys.argv[1])\n"
                         "tag.add(APIC(mime='image/jpeg', type=3, data=os.urandom(300000)))\n"
                         "tag.save(sys.argv[1])\n",
                         (temp / "cover.mp3").string()});
    ASSERT_GT(fs::file_size(temp / "cover.mp3"), 300000U);
    const std::optional<double> seconds = readingOf(temp / "cover.mp3").seconds;
    ASSERT_TRUE(seconds);
    EXPECT_NEAR(*seconds, probed(temp / "cover.mp3").value_or(0), 0.1);
}

// A copy that ended at a third of the file: its headers still tell the
// whole length, its bytes are not all there.
TEST(AudioLength, AFileCutShortIsNotWhole) {
    const std::vector<std::pair<std::string, ToneOptions>> cases = {
        {"info.mp3", {}},
        {"counted.mp3", {.extraArguments = {"-write_xing", "0"}}},
        {"movie-first.m4a", {.extraArguments = {"-movflags", "+faststart"}}},
    };
    testing::TempDir temp;
    for (auto [name, tone] : cases) {
        SCOPED_TRACE(name);
        tone.seconds = 20;
        testing::makeTone(temp / name, tone);
        EXPECT_TRUE(readingOf(temp / name).whole);
        changeFile(temp / name, [](std::string& bytes) { bytes.resize(bytes.size() / 3); });
        EXPECT_FALSE(readingOf(temp / name).whole);
    }
}

}  // namespace
}  // namespace tarvik
