#include "Core/Convert/ID3v1.hpp"

#include <algorithm>
#include <string_view>

#include "Core/Convert/ID3Writer.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/TextEncoding.hpp"

namespace tarvik::id3v1 {
namespace {

using TagFields::Field;

// Where each field stands in the trailer, and its room.
struct Room {
    std::size_t at;
    std::size_t size;
};
constexpr Room title{3, 30}, artist{33, 30}, album{63, 30}, year{93, 4}, comment{97, 30};
// ID3v1.1: a zero byte after 28 bytes of comment, then the track number.
constexpr std::size_t trackMark = 125, trackAt = 126, genreAt = 127;
constexpr std::uint8_t noGenre = 0xFF;

// A text as readers take it: up to its first zero byte, without the spaces
// that pad it.
Bytes textAt(const Bytes& trailer, Room room) {
    const auto begin = trailer.begin() + static_cast<std::ptrdiff_t>(room.at);
    auto end = std::find(begin, begin + static_cast<std::ptrdiff_t>(room.size), 0);
    while (end != begin && *(end - 1) == ' ') --end;
    return Bytes(begin, end);
}

Bytes asBytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

bool isASCII(const Bytes& text) {
    return std::all_of(text.begin(), text.end(), [](std::uint8_t byte) { return byte < 0x80; });
}

bool isUTF8(const Bytes& text) {
    return text::isValidUTF8({reinterpret_cast<const char*>(text.data()), text.size()});
}

// The ID3v2 encoding a trailer's text goes into: Latin-1 for text read so
// (ASCII reads the same either way), else UTF-8, which version 3 does not
// have: UTF-16 there.
std::uint8_t encodingFor(const Bytes& text, int major, Reading reading) {
    if (reading == Reading::latin1 || isASCII(text) || !isUTF8(text)) return 0;
    return major == 4 ? 3 : 1;
}

// The text in the encoding, without a terminator; UTF-16 with its mark.
Bytes encoded(const Bytes& text, std::uint8_t encoding) {
    if (encoding != 1) return text;
    Bytes out{0xFF, 0xFE};
    const Bytes units =
        text::toUTF16LE(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
    out.insert(out.end(), units.begin(), units.end());
    return out;
}

id3::Frame textFrame(std::string_view id, const Bytes& text, int major, Reading reading) {
    const std::uint8_t encoding = encodingFor(text, major, reading);
    Bytes body{encoding};
    const Bytes coded = encoded(text, encoding);
    body.insert(body.end(), coded.begin(), coded.end());
    const auto version = major == 4 ? ID3Writer::Version::v2_4 : ID3Writer::Version::v2_3;
    return {std::string(id), id3::frame(id, body, version)};
}

// Whether the trailer's texts are UTF-8, as ffmpeg's own writer leaves
// them: some are not ASCII, and all are UTF-8.
bool holdsUTF8(const Bytes& trailer) {
    bool beyondASCII = false;
    for (const Room room : {title, artist, album, comment}) {
        const Bytes text = textAt(trailer, room);
        if (!isUTF8(text)) return false;
        beyondASCII = beyondASCII || !isASCII(text);
    }
    return beyondASCII;
}

// `text` in the room, in the trailer's encoding (Latin-1, or UTF-8 where
// `utf8`), where it fits and reads back as itself.
bool put(Bytes& trailer, Room room, const std::string& text, bool utf8) {
    const std::optional<Bytes> bytes = utf8 ? std::optional(asBytes(text)) : text::toLatin1(text);
    if (!bytes || bytes->size() > room.size ||
        std::find(bytes->begin(), bytes->end(), 0) != bytes->end() ||
        (!bytes->empty() && bytes->back() == ' ')) {
        return false;
    }
    const auto at = trailer.begin() + static_cast<std::ptrdiff_t>(room.at);
    std::fill(at, at + static_cast<std::ptrdiff_t>(room.size), 0);
    std::copy(bytes->begin(), bytes->end(), at);
    return true;
}

// The number a track or date value begins with, as far as `digits` go.
std::optional<unsigned> leadingNumber(std::string_view value, std::size_t digits) {
    std::size_t length = 0;
    while (length < value.size() && value[length] >= '0' && value[length] <= '9') ++length;
    if (length == 0 || length > digits) return std::nullopt;
    unsigned number = 0;
    for (std::size_t i = 0; i < length; ++i) number = number * 10 + (value[i] - '0');
    return number;
}

// A track value's number ("7", "07", "7/12") where one byte holds it.
std::optional<std::uint8_t> trackNumber(std::string_view value) {
    const std::string_view number = value.substr(0, value.find('/'));
    const std::optional<unsigned> parsed = leadingNumber(number, 3);
    if (!parsed || number.find_first_not_of("0123456789") != std::string_view::npos ||
        *parsed < 1 || *parsed > 255) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(*parsed);
}

}  // namespace

std::optional<Bytes> trailer(ByteSource& file, std::uint64_t audioStart) {
    const std::uint64_t size = file.size();
    if (size < audioStart || size - audioStart < trailerSize) return std::nullopt;
    Bytes bytes = file.read(size - trailerSize, trailerSize);
    if (bytes.size() != trailerSize || !std::equal(bytes.begin(), bytes.begin() + 3, "TAG")) {
        return std::nullopt;
    }
    return bytes;
}

std::vector<id3::Frame> frames(const Bytes& trailer, int major, Reading reading) {
    const auto version = major == 4 ? ID3Writer::Version::v2_4 : ID3Writer::Version::v2_3;
    std::vector<id3::Frame> out;
    const std::pair<std::string_view, Room> texts[] = {
        {"TIT2", title}, {"TPE1", artist}, {"TALB", album}, {major == 4 ? "TDRC" : "TYER", year}};
    for (const auto& [id, room] : texts) {
        if (Bytes text = textAt(trailer, room); !text.empty()) {
            out.push_back(textFrame(id, text, major, reading));
        }
    }
    if (const Bytes text = textAt(trailer, comment); !text.empty()) {
        // No language known ("XXX"), an empty description.
        const std::uint8_t encoding = encodingFor(text, major, reading);
        Bytes body{encoding, 'X', 'X', 'X'};
        for (const Bytes& part :
             {encoded({}, encoding), Bytes(encoding == 1 ? 2 : 1, 0x00), encoded(text, encoding)}) {
            body.insert(body.end(), part.begin(), part.end());
        }
        out.push_back({"COMM", id3::frame("COMM", body, version)});
    }
    if (trailer[trackMark] == 0 && trailer[trackAt] != 0) {
        out.push_back(textFrame("TRCK", asBytes(std::to_string(trailer[trackAt])), major, reading));
    }
    if (trailer[genreAt] < id3::genres.size()) {
        const std::string reference = "(" + std::to_string(trailer[genreAt]) + ")";
        out.push_back(textFrame("TCON", asBytes(reference), major, reading));
    }
    return out;
}

Bytes with(Bytes trailer, Field field, const std::optional<std::string>& value) {
    const std::string text = value.value_or("");
    const bool utf8 = holdsUTF8(trailer);
    switch (field) {
        case Field::title:
            put(trailer, title, text, utf8);
            break;
        case Field::artist:
            put(trailer, artist, text, utf8);
            break;
        case Field::album:
            put(trailer, album, text, utf8);
            break;
        case Field::date:
            if (text.empty()) {
                put(trailer, year, "", false);
            } else if (text.size() >= 4 && (text.size() == 4 || text[4] == '-') &&
                       text.find_first_not_of("0123456789") >= 4) {
                put(trailer, year, text.substr(0, 4), false);
            }
            break;
        case Field::track:
            if (trailer[trackMark] != 0) break;  // the comment's own bytes
            if (text.empty()) {
                trailer[trackAt] = 0;
            } else if (const auto number = trackNumber(text); number) {
                trailer[trackAt] = *number;
            }
            break;
        case Field::genre:
            if (text.empty()) {
                trailer[genreAt] = noGenre;
            } else if (const auto found = std::find(id3::genres.begin(), id3::genres.end(), text);
                       found != id3::genres.end()) {
                trailer[genreAt] = static_cast<std::uint8_t>(found - id3::genres.begin());
            }
            break;
        case Field::albumArtist:
        case Field::disc:
            break;  // not in the trailer
    }
    return trailer;
}

}  // namespace tarvik::id3v1
