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

// Copies that ended early: in their audio (at a third), inside their
// movie, tags or metadata. Their headers still tell more than is there.
// Where no header tells a length, a copy is whole as far as its bytes go.
TEST(AudioLength, AFileCutShortIsNotWhole) {
    using Cut = std::function<std::size_t(const std::string&)>;  // the bytes kept
    const Cut third = [](const std::string& bytes) { return bytes.size() / 3; };
    const auto keep = [](std::size_t kept) {
        return Cut([=](const std::string&) { return kept; });
    };
    const Cut metadata = [](const std::string& flac) {
        std::size_t at = 4;  // after "fLaC": blocks of a flag, a 24-bit length and a body
        for (bool last = false; !last; at += 4 + static_cast<unsigned char>(flac[at + 1]) * 65536U +
                                             static_cast<unsigned char>(flac[at + 2]) * 256U +
                                             static_cast<unsigned char>(flac[at + 3])) {
            last = (flac[at] & 0x80) != 0;
        }
        return at;
    };
    struct Case {
        std::string name;
        ToneOptions tone;
        Cut cut;
        bool whole = false;
    };
    const std::vector<Case> cases = {
        {"info.mp3", {}, third},
        {"counted.mp3", {.extraArguments = {"-write_xing", "0"}}, third},
        {"movie-first.m4a", {.extraArguments = {"-movflags", "+faststart"}}, third},
        {"inside-the-movie-first.m4a", {.extraArguments = {"-movflags", "+faststart"}}, keep(400)},
        {"inside-the-movie-last.m4a", {}, [](const std::string& m4a) { return m4a.size() - 4; }},
        {"a.wav", {}, third},
        {"a.aiff", {}, third},
        {"inside-the-metadata.flac", {}, keep(100)},
        {"right-after-the-metadata.flac", {}, metadata},
        {"inside-the-header.wma", {.extraArguments = {"-c:a", "wmav2"}}, keep(200)},
        {"inside-the-cover.mp3", {}, keep(35000)},
        {"fragmented.m4a", {.extraArguments = {"-movflags", "frag_keyframe+empty_moov"}}, third},
        {"piped-inside-the-metadata.flac", {.pipedFormat = "flac"}, keep(60)},
        {"piped.flac", {.pipedFormat = "flac"}, third, true},
        {"piped.wav", {.pipedFormat = "wav"}, third, true},
    };
    testing::TempDir temp;
    for (auto [name, tone, cut, whole] : cases) {
        SCOPED_TRACE(name);
        tone.seconds = 20;
        testing::makeTone(temp / name, tone);
        if (name == "inside-the-cover.mp3") {
            // A cover of 300 KB in the tag in front.
            testing::runCommand(
                {testing::systemPython, "-c",
                 "import sys, os\n"
                 "from mutagen.id3 import ID3, APIC\n"
                 "tag = ID3()\n"
                 "tag.add(APIC(mime='image/jpeg', type=3, data=os.urandom(300000)))\n"
                 "tag.save(sys.argv[1])\n",
                 (temp / name).string()});
        }
        EXPECT_TRUE(readingOf(temp / name).whole);
        changeFile(temp / name, [&](std::string& bytes) { bytes.resize(cut(bytes)); });
        EXPECT_EQ(readingOf(temp / name).whole, whole);
    }
}

// Behind a tag, nothing but zeros: the room of a copy taken before its
// audio was written.
TEST(AudioLength, ATagWithoutAudioIsNotWhole) {
    testing::TempDir temp;
    testing::makeTone(temp / "a.mp3", {.metadata = {{"title", "Song"}}});
    const std::string file = testing::readFile(temp / "a.mp3");
    std::size_t audio = 10;  // the tag's header, then its syncsafe size
    for (std::size_t at = 6; at < 10; ++at) audio += (file[at] & 0x7FU) << (7 * (9 - at));
    for (const std::string& rest : {std::string(), std::string(file.size() - audio, '\0')}) {
        testing::writeFile(temp / "x.mp3", file.substr(0, audio) + rest);
        EXPECT_FALSE(readingOf(temp / "x.mp3").whole) << rest.size();
    }
}

// An MP3 headed by a VBRI frame (as Fraunhofer's encoder writes it) in
// front of 20 s of audio: its length is what the frame tells, as ffprobe
// reads it, without the frames counted; a copy that ended early is not whole.
TEST(AudioLength, AVBRIFrameTellsTheLength) {
    testing::TempDir temp;
    testing::makeTone(temp / "plain.mp3",
                      {.seconds = 20,
                       .extraArguments = {"-b:a", "128k", "-write_xing", "0", "-map_metadata", "-1",
                                          "-id3v2_version", "0"}});
    const std::string audio = testing::readFile(temp / "plain.mp3");
    const std::string frames = testing::outputOf(
        {"ffprobe", "-v", "error", "-count_packets", "-select_streams", "a", "-show_entries",
         "stream=nb_read_packets", "-of", "csv=p=0", (temp / "plain.mp3").string()});
    const std::size_t frameCount = std::stoul(frames);
    // The first frame's header, unpadded: 144 × 128000 / 44100 bytes.
    std::string vbri = audio.substr(0, 4);
    vbri[2] = static_cast<char>(vbri[2] & ~0x02);
    vbri.resize(36, '\0');
    const auto bigEndian = [](std::size_t value, int width) {
        std::string bytes;
        for (int at = width - 1; at >= 0; --at) bytes += static_cast<char>(value >> (8 * at));
        return bytes;
    };
    const std::size_t frameLength = 144 * 128000 / 44100;
    vbri += "VBRI" + bigEndian(1, 2) + bigEndian(0, 2) + bigEndian(75, 2) +
            bigEndian(frameLength + audio.size(), 4) + bigEndian(frameCount, 4) + bigEndian(0, 2) +
            bigEndian(1, 2) + bigEndian(2, 2) + bigEndian(0, 2);
    vbri.resize(frameLength, '\0');
    testing::writeFile(temp / "vbri.mp3", vbri + audio);

    // Reads counted: a header's few, never the whole file.
    struct Counting : ByteSource {
        FileSource file;
        std::uint64_t taken = 0;
        explicit Counting(const fs::path& path) : file(path) {}
        std::uint64_t size() const override { return file.size(); }
        Bytes read(std::uint64_t offset, std::size_t length) override {
            Bytes bytes = file.read(offset, length);
            taken += bytes.size();
            return bytes;
        }
    };
    Counting counting(temp / "vbri.mp3");
    const AudioLength::Reading reading = AudioLength::read(counting);
    ASSERT_TRUE(reading.seconds);
    EXPECT_NEAR(*reading.seconds, frameCount * 1152.0 / 44100, 0.001);
    EXPECT_NEAR(*reading.seconds, probed(temp / "vbri.mp3").value_or(0), 0.05);
    EXPECT_LT(counting.taken, counting.size() / 4);
    EXPECT_TRUE(reading.whole);

    changeFile(temp / "vbri.mp3", [](std::string& bytes) { bytes.resize(bytes.size() / 3); });
    EXPECT_FALSE(readingOf(temp / "vbri.mp3").whole);
}

}  // namespace
}  // namespace tarvik
