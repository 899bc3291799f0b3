// Card files' tags as players and older taggers leave them: a rating frame
// written wrong among good frames, an album that stands only in the ID3v1
// trailer, a trailer of accented Latin-1 padded with spaces, version 2.4
// sizes written as plain numbers, an ID3 tag in front of a FLAC stream, MP4
// atoms with 64-bit headers, and files that ended inside their tags.
#include <gtest/gtest.h>

#include <set>

#include "Core/Convert/AudioFacts.hpp"
#include "Core/Convert/CardTags.hpp"
#include "Core/Convert/ConvertTesting.hpp"
#include "Core/Platform/FileStreams.hpp"
#include "Core/Testing/ID3Forms.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using Form = CardTags::Form;
using testing::id3forms::bigEndian;
using testing::id3forms::syncsafe;

CardTags::Tags tagsOf(const fs::path& file) {
    FileSource source(file);
    return CardTags::read(source);
}

// A version 2.3 frame (2.4 with `major`) whose size says `size`, its body's by default.
std::string frame(std::string_view id, const std::string& body,
                  std::optional<std::size_t> size = {}, int major = 3) {
    const std::size_t told = size.value_or(body.size());
    return std::string(id) + (major == 4 ? syncsafe(told) : bigEndian(told, 4)) +
           std::string(2, '\0') + body;
}

std::string text(std::string_view id, const std::string& value) {
    return frame(id, '\0' + value);
}

std::string tag(const std::string& frames, int major = 3) {
    const std::string body = frames + std::string(64, '\0');
    return "ID3" + std::string{static_cast<char>(major), '\0', '\0'} + syncsafe(body.size()) + body;
}

// An ID3v1.1 trailer whose 30-byte fields are filled up with `fill`.
std::string trailer(const std::string& title, const std::string& artist, const std::string& album,
                    char fill, int track) {
    const auto field = [&](const std::string& value, std::size_t width) {
        return value + std::string(width - value.size(), fill);
    };
    return "TAG" + field(title, 30) + field(artist, 30) + field(album, 30) + "2001" +
           field("", 28) + '\0' + static_cast<char>(track) + '\xFF';
}

std::string bareAudio(const fs::path& folder) {
    testing::makeTone(folder / "bare.mp3",
                      {.extraArguments = {"-map_metadata", "-1", "-id3v2_version", "0"}});
    return testing::readFile(folder / "bare.mp3");
}

TEST(CardTags, EveryTagOfAUsersFileIsRead) {
    // A player's rating frame: its e-mail, the rating, a play count.
    const std::string rating = std::string("Windows Media Player 9 Series") + '\0' + '\xFF';
    const std::string count = std::string("\0\0\x01\x02", 4);
    const std::string titleArtistAlbum =
        text("TIT2", "Song") + text("TPE1", "Stranger") + text("TALB", "Road");
    const std::string longTitle(300, 'x');
    struct Case {
        std::string name;
        std::string head;   // in front of untagged audio, or of a FLAC stream
        std::string trail;  // behind it
        std::vector<Form> forms;
        std::string title, artist, album;
        bool flac = false;
    };
    const std::vector<Case> cases = {
        {"the album only in the trailer",
         tag(text("TIT2", "Song") + text("TPE1", "Stranger")),
         trailer("Song", "Stranger", "Road", ' ', 3),
         {Form::id3v2, Form::id3v1},
         "Song",
         "Stranger",
         "Road"},
        {"a rating frame running past the tag",
         tag(frame("POPM", rating + count, 5000) + titleArtistAlbum),
         "",
         {Form::id3v2},
         "Song",
         "Stranger",
         "Road"},
        {"a rating frame without its count in its size",
         tag(frame("POPM", rating + count, rating.size()) + titleArtistAlbum),
         "",
         {Form::id3v2},
         "Song",
         "Stranger",
         "Road"},
        {"a frame of no size",
         tag(frame("TPE2", "") + titleArtistAlbum),
         "",
         {Form::id3v2},
         "Song",
         "Stranger",
         "Road"},
        {"version 2.4 sizes as plain numbers",
         tag("TIT2" + bigEndian(longTitle.size() + 1, 4) + std::string(3, '\0') + longTitle +
                 frame("TALB", std::string("\0Road", 5), {}, 4),
             4),
         "",
         {Form::id3v2},
         longTitle,
         "",
         "Road"},
        {"a Latin-1 trailer padded with spaces",
         "",
         trailer("Caf\xE9 del Mar", "Se\xF1or", "A\xF1o", ' ', 7),
         {Form::id3v1},
         "Caf\u00E9 del Mar",
         "Se\u00F1or",
         "A\u00F1o"},
        {"a tag in front of a FLAC stream",
         tag(text("TIT2", "Other")),
         "",
         {Form::xiph, Form::id3v2},
         "Song",
         "Stranger",
         "Road",
         true},
    };
    testing::TempDir temp;
    const std::string audio = bareAudio(temp.path());
    testing::makeTone(temp / "tagged.flac",
                      {.metadata = {{"title", "Song"}, {"artist", "Stranger"}, {"album", "Road"}}});
    const std::string flac = testing::readFile(temp / "tagged.flac");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::writeFile(temp / "x.mp3", c.head + (c.flac ? flac : audio) + c.trail);
        const CardTags::Tags tags = tagsOf(temp / "x.mp3");
        EXPECT_FALSE(tags.unreadable);
        EXPECT_EQ(tags.fields.title, c.title);
        EXPECT_EQ(tags.fields.artist, c.artist);
        EXPECT_EQ(tags.fields.album, c.album);
        std::vector<Form> forms;
        for (const CardTags::Tag& each : tags.each) forms.push_back(each.form);
        EXPECT_EQ(forms, c.forms);
        EXPECT_EQ(tags.form, c.forms.front());
        EXPECT_EQ(tags.trailer.size(), c.trail.empty() ? 0U : 128U);
    }
}

// The atoms of an MP4 file's `bytes`, containers walked, each of them given
// a 64-bit header (a size of 1, then the size in 8 bytes).
std::string widened(std::string_view bytes) {
    static const std::set<std::string, std::less<>> containers = {"moov", "trak", "mdia", "minf",
                                                                  "stbl", "udta", "meta", "ilst"};
    std::string out;
    for (std::size_t at = 0; bytes.size() - at >= 8;) {
        const Bytes header(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                           bytes.begin() + static_cast<std::ptrdiff_t>(at + 8));
        const std::size_t size = numberAt(header, 0, 4, ByteOrder::big);
        const std::string_view type = bytes.substr(at + 4, 4);
        const std::string_view body = bytes.substr(at + 8, size - 8);
        if (!containers.contains(type)) {
            out += bytes.substr(at, size);
        } else {
            const std::size_t skip = type == "meta" ? 4 : 0;  // its version and flags
            const std::string inside =
                std::string(body.substr(0, skip)) + widened(body.substr(skip));
            out += bigEndian(1, 4) + std::string(type) + bigEndian(16 + inside.size(), 8) + inside;
        }
        at += size;
    }
    return out;
}

// 64-bit atom headers on the way to the item list and the audio's tables:
// both the tags and the length are read through them, as ffprobe reads them.
// A title alone is read whole, not taken for what remains of a damaged
// movie.
TEST(CardTags, AtomsWithWideHeadersAreWalked) {
    testing::TempDir temp;
    testing::makeTone(temp / "a.m4a", {.seconds = 2.5, .metadata = {{"title", "Song"}}});
    const std::string file = testing::readFile(temp / "a.m4a");
    // The movie comes last, so the media data stays where its offsets say.
    ASSERT_LT(file.find("mdat"), file.find("moov"));
    const std::size_t movie = file.find("moov") - 4;
    testing::writeFile(temp / "wide.m4a",
                       file.substr(0, movie) + widened(std::string_view(file).substr(movie)));
    ASSERT_NE(testing::readFile(temp / "wide.m4a").find(bigEndian(1, 4) + "ilst"),
              std::string::npos);

    const std::optional<AudioFacts::Facts> facts = AudioFacts::read(temp / "wide.m4a");
    ASSERT_TRUE(facts);
    EXPECT_EQ(facts->tags.title, "Song");
    EXPECT_FALSE(facts->unreadable);
    const nlohmann::json probe =
        testing::ffprobe(temp / "wide.m4a", "format_tags=title:stream=duration");
    EXPECT_EQ(probe["format"]["tags"].value("title", ""), "Song");
    ASSERT_TRUE(facts->seconds);
    EXPECT_NEAR(*facts->seconds, std::stod(probe["streams"][0]["duration"].get<std::string>()),
                0.05);
    EXPECT_TRUE(facts->whole);
}

// Files that ended inside their tags: what was read before the end counts,
// and a tag that lost all it named leaves the file unclear.
TEST(CardTags, AFileThatEndedInsideItsTag) {
    const std::vector<std::pair<std::string, std::string>> road = {{"album", "Road"}};
    struct Case {
        std::string name;
        testing::ToneOptions tone;
        std::size_t keep;  // bytes kept from the start; 0: all but the last four
        bool unreadable;
        std::string title, album;
        bool wide = false;  // the movie's atoms with 64-bit headers
    };
    const std::vector<Case> cases = {
        {"movie-first.m4a",
         {.metadata = road, .extraArguments = {"-movflags", "+faststart"}},
         400,
         true,
         "",
         ""},
        {"movie-last.m4a", {.metadata = road}, 0, false, "", "Road"},
        {"wide-movie-last.m4a", {.metadata = {{"title", "Song"}}}, 0, true, "Song", "", true},
    };
    testing::TempDir temp;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::makeTone(temp / c.name, c.tone);
        std::string file = testing::readFile(temp / c.name);
        if (c.wide) {
            const std::size_t movie = file.find("moov") - 4;
            file = file.substr(0, movie) + widened(std::string_view(file).substr(movie));
        }
        testing::writeFile(temp / c.name, file.substr(0, c.keep > 0 ? c.keep : file.size() - 4));
        const CardTags::Tags tags = tagsOf(temp / c.name);
        EXPECT_EQ(tags.unreadable, c.unreadable);
        EXPECT_EQ(tags.fields.title, c.title);
        EXPECT_EQ(tags.fields.album, c.album);
    }
}

}  // namespace
}  // namespace tarvik
