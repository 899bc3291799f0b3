#include "Core/Convert/ConvertTesting.hpp"
#include "Core/Convert/ID3v1.hpp"

namespace tarvik {
namespace {

using TagFields::Field;

// A trailer: title, artist, album (30 bytes each), year (4), comment (28 and,
// with a track, a zero byte and the track; else 30), genre.
Bytes trailer(std::string_view title, std::string_view artist, std::string_view year,
              std::string_view comment, int track, int genre) {
    const auto field = [](std::string_view text, std::size_t size) {
        Bytes out(text.begin(), text.end());
        out.resize(size, 0);
        return out;
    };
    Bytes out = concat({bytes("TAG"), field(title, 30), field(artist, 30), field("", 30),
                        field(year, 4), field(comment, track > 0 ? 28 : 30)});
    if (track > 0) out = concat({out, {0x00, static_cast<std::uint8_t>(track)}});
    out.push_back(static_cast<std::uint8_t>(genre));
    return out;
}

// Each frame as "ID:body" with the body's bytes after the encoding byte.
std::vector<std::string> shown(const std::vector<id3::Frame>& frames) {
    std::vector<std::string> out;
    for (const id3::Frame& frame : frames) {
        const Bytes body = id3::frameBody(frame);
        EXPECT_EQ(body.at(0), 0x00) << frame.id;  // Latin-1
        out.push_back(frame.id + ":" + std::string(body.begin() + 1, body.end()));
    }
    return out;
}

TEST(ID3v1, FramesSayWhatTheTrailerSaysAsReadersReadIt) {
    const std::vector<std::tuple<std::string, Bytes, std::vector<std::string>>> cases = {
        {"every field, padded with spaces; the genre as a reference",
         trailer("Song  ", "A Band", "2003", "a comment", 7, 17),
         {"TIT2:Song", "TPE1:A Band", "TYER:2003", "COMM:XXX" + std::string(1, '\0') + "a comment",
          "TRCK:7", "TCON:(17)"}},
        {"a field of spaces is none; no track where the comment fills its room; no genre 255",
         trailer("Caf\xE9", " ", "", std::string(30, 'c'), 0, 255),
         {"TIT2:Caf\xE9", "COMM:XXX" + std::string(1, '\0') + std::string(30, 'c')}},
        {"a genre past the list is none", trailer("", "", "", "", 0, 192), {}},
    };
    for (const auto& [what, bytes, frames] : cases) {
        EXPECT_EQ(shown(id3v1::frames(bytes, 3)), frames) << what;
    }
    EXPECT_EQ(shown(id3v1::frames(trailer("", "", "1999", "", 0, 255), 4)),
              std::vector<std::string>{"TDRC:1999"});
}

TEST(ID3v1, FieldsAreUpdatedWhereTheirRoomHoldsTheNewValue) {
    const Bytes old = trailer("Song", "A Band", "2003", "note", 7, 17);
    const std::string thirty(30, 'x');
    const std::vector<std::tuple<Field, std::optional<std::string>, Bytes>> cases = {
        {Field::title, "Caf\u00E9", trailer("Caf\xE9", "A Band", "2003", "note", 7, 17)},
        {Field::title, thirty, trailer(thirty, "A Band", "2003", "note", 7, 17)},
        {Field::title, thirty + "x", old},          // too long: not cut
        {Field::title, "\u30C6\u30B9\u30C8", old},  // no Latin-1
        {Field::title, "Song ", old},               // would read back without its space
        {Field::artist, std::nullopt, trailer("Song", "", "2003", "note", 7, 17)},
        {Field::date, "2019-04-01", trailer("Song", "A Band", "2019", "note", 7, 17)},
        {Field::date, "April 2019", old},
        {Field::track, "12/14", trailer("Song", "A Band", "2003", "note", 12, 17)},
        {Field::track, "256", old},
        {Field::track, "B2", old},
        {Field::genre, "Jazz", trailer("Song", "A Band", "2003", "note", 7, 8)},
        {Field::genre, "Enka", old},  // not in the list
        {Field::genre, std::nullopt, trailer("Song", "A Band", "2003", "note", 7, 255)},
        {Field::albumArtist, "Other", old},
    };
    for (const auto& [field, value, expected] : cases) {
        EXPECT_EQ(id3v1::with(old, field, value), expected)
            << TagFields::rawValue(field) << " " << value.value_or("(none)");
    }
    // A 30-byte comment (ID3v1.0) has no room for a track.
    const Bytes full = trailer("Song", "", "", std::string(30, 'c'), 0, 255);
    EXPECT_EQ(id3v1::with(full, Field::track, "3"), full);
}

}  // namespace
}  // namespace tarvik
