// Lengths and tags read from files' own headers, on files ffmpeg makes, and
// what a card file that tells nothing of its album is.
#include <gtest/gtest.h>

#include "Core/Convert/AudioFacts.hpp"
#include "Core/Convert/AudioLength.hpp"
#include "Core/Convert/ID3Writer.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/FileStreams.hpp"
#include "Core/Platform/WholeFile.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::ToneOptions;

Bytes bytesOf(const fs::path& file) {
    const std::string text = testing::readFile(file);
    return Bytes(text.begin(), text.end());
}

std::optional<double> lengthOf(const fs::path& file) {
    FileSource source(file);
    return AudioLength::seconds(source);
}

// Each kind 2.5 s long; MP3 and AAC encoders add a few hundredths in front.
TEST(AudioLength, EveryKindByItsOwnHeaders) {
    const std::vector<std::pair<std::string, ToneOptions>> cases = {
        {"a.flac", {}},
        {"a.wav", {}},
        {"a.aiff", {}},
        {"xing.mp3", {}},
        {"counted.mp3", {.extraArguments = {"-write_xing", "0"}}},
        {"mpeg2-mono.mp3", {.sampleRate = 22050, .channels = 1}},
        {"both-tags.mp3",
         {.metadata = {{"title", "T"}},
          .extraArguments = {"-write_xing", "0", "-write_id3v1", "1"}}},
        {"a.m4a", {}},
        {"movie-first.m4a", {.extraArguments = {"-movflags", "+faststart"}}},
    };
    testing::TempDir temp;
    for (auto [name, options] : cases) {
        options.seconds = 2.5;
        testing::makeTone(temp / name, options);
        const std::optional<double> seconds = lengthOf(temp / name);
        ASSERT_TRUE(seconds) << name;
        EXPECT_NEAR(*seconds, 2.5, 0.08) << name;
    }
}

TEST(AudioLength, DamagedOrStoppedReads) {
    testing::TempDir temp;
    testing::makeTone(temp / "a.wav", {.seconds = 2.0});
    Bytes wave = bytesOf(temp / "a.wav");
    // A stream written before its length was known says it holds 4 GiB.
    const std::size_t data = asText(wave).find("data");
    std::fill_n(wave.begin() + static_cast<std::ptrdiff_t>(data + 4), 4, 0xFF);
    MemorySource streamed(wave);
    EXPECT_NEAR(AudioLength::seconds(streamed).value_or(0), 2.0, 0.01);
    for (const Bytes& damaged :
         {Bytes{}, Bytes(wave.begin(), wave.begin() + 40), Bytes{'f', 'L', 'a', 'C'}}) {
        MemorySource source(damaged);
        EXPECT_EQ(AudioLength::seconds(source), std::nullopt) << damaged.size();
    }

    // Frames counted one chunk after another see the stop between them.
    struct StoppingSource : ByteSource {
        const Bytes& bytes;
        std::stop_source& stop;
        StoppingSource(const Bytes& all, std::stop_source& source) : bytes(all), stop(source) {}
        std::uint64_t size() const override { return bytes.size(); }
        Bytes read(std::uint64_t offset, std::size_t length) override {
            if (length > 4096) stop.request_stop();
            return MemorySource(bytes).read(offset, length);
        }
    };
    testing::makeTone(temp / "long.mp3", {.seconds = 30, .extraArguments = {"-write_xing", "0"}});
    const Bytes mp3 = bytesOf(temp / "long.mp3");
    std::stop_source stop;
    StoppingSource stopping(mp3, stop);
    EXPECT_THROW(AudioLength::seconds(stopping, stop.get_token()), Cancelled);
}

// The tags come from the first form that holds any; a file is a stray when
// empty, or without tags whatever its kind.
TEST(AudioFacts, TagsByTheirFormAndStrays) {
    using Form = AudioFacts::Facts::Form;
    const std::vector<std::pair<std::string, std::string>> metadata = {{"title", "Song"},
                                                                       {"artist", "Band"},
                                                                       {"album_artist", "Band"},
                                                                       {"album", "Best"},
                                                                       {"track", "3/12"}};
    const ToneOptions bare{.extraArguments = {"-map_metadata", "-1", "-id3v2_version", "0"}};
    struct Case {
        std::string name;
        ToneOptions tone;
        Form form;
        std::string album, albumArtist;
        bool stray = false;
    };
    const std::vector<Case> cases = {
        {"v2.mp3", {.metadata = metadata}, Form::id3v2, "Best", "Band"},
        {"v1.mp3", bare, Form::id3v1, "Best", ""},  // the trailer added below
        {"a.m4a", {.metadata = metadata}, Form::mp4, "Best", "Band"},
        {"bare.mp3", bare, Form::none, "", "", true},
    };
    testing::TempDir temp;
    for (const Case& c : cases) {
        testing::makeTone(temp / c.name, c.tone);
        if (c.form == Form::id3v1) {
            const Bytes trailer =
                ID3Writer{ID3Writer::Version::v2_3, ID3Writer::TextEncoding::latin1, true}.encodeV1(
                    {.title = "Song", .artist = "Band", .album = "Best"});
            testing::writeFile(temp / c.name,
                               testing::readFile(temp / c.name) + std::string(asText(trailer)));
        }
        const std::optional<AudioFacts::Facts> facts = AudioFacts::read(temp / c.name);
        ASSERT_TRUE(facts) << c.name;
        EXPECT_EQ(facts->form, c.form) << c.name;
        EXPECT_EQ(facts->tags.album, c.album) << c.name;
        EXPECT_EQ(facts->tags.albumArtist, c.albumArtist) << c.name;
        const bool numbered = c.form == Form::id3v2 || c.form == Form::mp4;
        EXPECT_EQ(facts->tags.track, numbered ? "3/12" : "") << c.name;
        EXPECT_EQ(facts->trailer.size(), c.form == Form::id3v1 ? 128U : 0U) << c.name;
        EXPECT_TRUE(facts->seconds) << c.name;
        EXPECT_EQ(AudioFacts::stray(facts).has_value(), c.stray) << c.name;
    }
    testing::writeFile(temp / "empty.mp3", "");
    testing::writeFile(temp / "other.wma", "no tags read here");
    EXPECT_EQ(AudioFacts::stray(AudioFacts::read(temp / "empty.mp3")), AudioFacts::Stray::empty);
    EXPECT_EQ(AudioFacts::stray(AudioFacts::read(temp / "gone.mp3")), AudioFacts::Stray::untagged);
    EXPECT_EQ(AudioFacts::stray(AudioFacts::read(temp / "other.wma")), AudioFacts::Stray::untagged);
}

// The one check of a copy: there, with audio, and all its headers speak of;
// only then is its length from its headers its true one.
TEST(AudioFacts, AWholeCopyAndItsTrueLength) {
    testing::TempDir temp;
    testing::makeTone(temp / "whole.mp3", {.seconds = 6});
    const std::string bytes = testing::readFile(temp / "whole.mp3");
    testing::writeFile(temp / "cut.mp3", bytes.substr(0, bytes.size() / 2));
    testing::writeFile(temp / "empty.mp3", "");
    struct Case {
        std::string name;
        bool whole;
    };
    for (const auto& [name, whole] : std::vector<Case>{
             {"whole.mp3", true}, {"cut.mp3", false}, {"empty.mp3", false}, {"gone.mp3", false}}) {
        SCOPED_TRACE(name);
        const std::optional<AudioFacts::Facts> facts = AudioFacts::read(temp / name);
        EXPECT_EQ(AudioFacts::isWhole(facts), whole);
        if (!facts) continue;
        const std::optional<double> seconds = AudioFacts::trueSeconds(*facts);
        EXPECT_EQ(seconds.has_value(), whole);
        if (whole) {
            EXPECT_NEAR(*seconds, 6, 0.1);
        }
    }
}

}  // namespace
}  // namespace tarvik
