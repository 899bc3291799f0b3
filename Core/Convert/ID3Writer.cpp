#include "Core/Convert/ID3Writer.hpp"

#include <algorithm>
#include <limits>
#include <vector>

#include "Core/Platform/AtomicFile.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/TextEncoding.hpp"
#include "Core/Platform/WholeFile.hpp"

namespace tarvik {
namespace {

using Encoding = ID3Writer::TextEncoding;

struct Frame {
    std::string id;
    Bytes body;
    bool isPicture = false;
};

void append(Bytes& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

void append(Bytes& out, const Bytes& bytes) {
    out.insert(out.end(), bytes.begin(), bytes.end());
}

// Each user-perceived character on its own, so that one without a code page
// 932 form costs a single "?" and the others survive; JIS forms such as the
// wave dash take their code page 932 twins first. With a limit the walk
// stops before a character whose bytes would not fit whole.
Bytes shiftJIS(std::string_view text, std::size_t limit = std::numeric_limits<std::size_t>::max()) {
    Bytes out;
    for (const std::string& character : text::graphemes(text::withCP932Twins(text))) {
        Bytes bytes = text::toCP932(character).value_or(Bytes{'?'});
        if (out.size() + bytes.size() > limit) break;
        append(out, bytes);
    }
    return out;
}

Encoding encodingFor(std::string_view text, Encoding preferred, ID3Writer::Version version) {
    switch (preferred) {
        case Encoding::latin1:
            return text::toLatin1(text) ? Encoding::latin1 : Encoding::utf16;
        case Encoding::utf8:
            return version == ID3Writer::Version::v2_4 ? Encoding::utf8 : Encoding::utf16;
        case Encoding::utf16:
        case Encoding::shiftJIS:
            break;
    }
    return preferred;
}

Bytes textBody(std::string_view text, Encoding encoding) {
    Bytes body;
    switch (encoding) {
        case Encoding::latin1:
            body.push_back(0x00);
            append(body, *text::toLatin1(text));
            body.push_back(0x00);
            break;
        case Encoding::utf16:
            body = {0x01, 0xFF, 0xFE};
            append(body, text::toUTF16LE(text));
            body.insert(body.end(), {0x00, 0x00});
            break;
        case Encoding::utf8:
            body.push_back(0x03);
            append(body, text);
            body.push_back(0x00);
            break;
        case Encoding::shiftJIS:
            // ID3 has no code of its own for Shift-JIS; units that read it take
            // the ISO-8859-1 code byte.
            body.push_back(0x00);
            append(body, shiftJIS(text));
            body.push_back(0x00);
            break;
    }
    return body;
}

// A user text frame: one encoding byte for both the description and the
// value, each ended as that encoding ends a text.
Bytes userTextBody(std::string_view description, std::string_view value, Encoding encoding) {
    Bytes body = textBody(description, encoding);
    const Bytes second = textBody(value, encoding);
    body.insert(body.end(), second.begin() + 1, second.end());
    return body;
}

Bytes pictureBody(const Bytes& jpeg) {
    Bytes body{0x00};
    append(body, "image/jpeg");
    body.insert(body.end(), {0x00, 0x03, 0x00});  // end of MIME type, front cover, no description
    append(body, jpeg);
    return body;
}

int rank(const Frame& frame) {
    static constexpr std::array<std::string_view, 7> order = {"TIT2", "TPE1", "TRCK", "TALB",
                                                              "TPOS", "TDRC", "TCON"};
    if (frame.isPicture) return 8;
    auto found = std::find(order.begin(), order.end(), frame.id);
    return static_cast<int>(found - order.begin());  // 7 when not listed
}

// The unit reads the frames in this order; pictures go last so that a text
// frame is never behind a large image.
bool comesBefore(const Frame& a, const Frame& b) {
    int rankA = rank(a);
    int rankB = rank(b);
    if (rankA != rankB) return rankA < rankB;
    if (a.isPicture) return false;  // pictures keep the order they were made in
    if (a.body.size() != b.body.size()) return a.body.size() < b.body.size();
    return a.id < b.id;
}

// ID3v1 fields hold one byte per scalar: the scalar itself below 256, else "?".
Bytes fitted(std::string_view text, std::size_t width, Encoding preferred) {
    Bytes out;
    if (preferred == Encoding::shiftJIS) {
        out = shiftJIS(text, width);
    } else {
        for (char32_t scalar : text::scalars(text)) {
            if (out.size() == width) break;
            out.push_back(scalar < 256 ? static_cast<std::uint8_t>(scalar) : '?');
        }
    }
    out.resize(width, 0x00);
    return out;
}

// A decimal integer with an optional sign and nothing else, within 64 bits.
std::optional<std::int64_t> parseTrack(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    const std::uint64_t limit =
        static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (limit - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    if (negative) return value == 0 ? 0 : -static_cast<std::int64_t>(value - 1) - 1;
    return static_cast<std::int64_t>(value);
}

std::uint8_t trackByte(std::string_view track) {
    std::int64_t number = parseTrack(track).value_or(0);
    return static_cast<std::uint8_t>(std::clamp<std::int64_t>(number, 0, 255));
}

std::uint8_t genreByte(std::string_view genre) {
    for (std::size_t i = 0; i < id3::genres.size(); ++i) {
        if (text::equivalent(id3::genres[i], genre)) return static_cast<std::uint8_t>(i);
    }
    return 255;
}

}  // namespace

namespace id3 {

std::array<std::uint8_t, 4> syncsafe(std::uint32_t value) {
    return {static_cast<std::uint8_t>((value >> 21) & 0x7F),
            static_cast<std::uint8_t>((value >> 14) & 0x7F),
            static_cast<std::uint8_t>((value >> 7) & 0x7F),
            static_cast<std::uint8_t>(value & 0x7F)};
}

std::uint32_t readSyncsafe(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0] & 0x7FU} << 21) | (std::uint32_t{bytes[1] & 0x7FU} << 14) |
           (std::uint32_t{bytes[2] & 0x7FU} << 7) | std::uint32_t{bytes[3] & 0x7FU};
}

std::uint32_t readBigEndian32(const std::uint8_t* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
           (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

Bytes frame(std::string_view id, const Bytes& body, ID3Writer::Version version) {
    Bytes out;
    out.reserve(10 + body.size());
    append(out, id);
    auto size = static_cast<std::uint32_t>(body.size());
    if (version == ID3Writer::Version::v2_4) {
        auto bytes = syncsafe(size);
        out.insert(out.end(), bytes.begin(), bytes.end());
    } else {
        out.insert(out.end(),
                   {static_cast<std::uint8_t>(size >> 24), static_cast<std::uint8_t>(size >> 16),
                    static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)});
    }
    out.insert(out.end(), {0x00, 0x00});
    append(out, body);
    return out;
}

}  // namespace id3

bool ID3Writer::Tags::operator==(const Tags& other) const {
    return text::equivalent(title, other.title) && text::equivalent(artist, other.artist) &&
           text::equivalent(album, other.album) &&
           text::equivalent(albumArtist, other.albumArtist) &&
           text::equivalent(track, other.track) && text::equivalent(disc, other.disc) &&
           text::equivalent(year, other.year) && text::equivalent(genre, other.genre) &&
           artworkJPEG == other.artworkJPEG && albumIdentity == other.albumIdentity &&
           trackIdentity == other.trackIdentity;
}

Bytes ID3Writer::textFrame(std::string_view id, std::string_view text) const {
    return id3::frame(id, textBody(text, encodingFor(text, preferredEncoding, version)), version);
}

Bytes ID3Writer::encodeV2(const Tags& tags, std::int64_t paddingHint) const {
    const std::string_view yearID = version == Version::v2_4 ? "TDRC" : "TYER";
    const std::pair<std::string_view, const std::string&> texts[] = {
        {"TIT2", tags.title},       {"TPE1", tags.artist}, {"TALB", tags.album},
        {"TPE2", tags.albumArtist}, {"TRCK", tags.track},  {"TPOS", tags.disc},
        {yearID, tags.year},        {"TCON", tags.genre},
    };
    std::vector<Frame> frames;
    for (const auto& [id, value] : texts) {
        if (value.empty()) continue;
        frames.push_back(
            {std::string(id), textBody(value, encodingFor(value, preferredEncoding, version))});
    }

    for (const auto& [description, identity] :
         {std::pair(albumIdentityDescription, std::string_view(tags.albumIdentity)),
          std::pair(trackIdentityDescription, std::string_view(tags.trackIdentity))}) {
        if (identity.empty()) continue;
        // Hexadecimal digits: the same bytes in every single-byte encoding.
        const std::string both = std::string(description) + std::string(identity);
        frames.push_back({"TXXX", userTextBody(description, identity,
                                               encodingFor(both, preferredEncoding, version))});
    }

    // A negative hint is no audio at all, not less padding than none.
    const std::uint64_t padding =
        1024 + static_cast<std::uint64_t>(std::max<std::int64_t>(paddingHint, 0)) / 1000;
    std::uint64_t size = padding;
    for (const Frame& frame : frames) size += 10 + frame.body.size();
    if (tags.artworkJPEG) {
        Bytes body = pictureBody(*tags.artworkJPEG);
        // The size field can't describe a larger tag; the tag without its cover
        // is still a good tag.
        if (size + 10 + body.size() < tagSizeLimit) {
            size += 10 + body.size();
            frames.push_back({"APIC", std::move(body), true});
        }
    }
    std::stable_sort(frames.begin(), frames.end(), comesBefore);

    Bytes out;
    out.reserve(10 + size);
    append(out, "ID3");
    out.insert(out.end(),
               {static_cast<std::uint8_t>(version == Version::v2_4 ? 4 : 3), 0x00, 0x00});
    auto sizeBytes = id3::syncsafe(static_cast<std::uint32_t>(size));
    out.insert(out.end(), sizeBytes.begin(), sizeBytes.end());
    for (const Frame& frame : frames) append(out, id3::frame(frame.id, frame.body, version));
    out.resize(out.size() + padding, 0x00);
    return out;
}

Bytes ID3Writer::encodeV1(const Tags& tags) const {
    if (!writeV1) return {};
    Bytes out;
    out.reserve(128);
    append(out, "TAG");
    append(out, fitted(tags.title, 30, preferredEncoding));
    append(out, fitted(tags.artist, 30, preferredEncoding));
    append(out, fitted(tags.album, 30, preferredEncoding));
    append(out, fitted(tags.year, 4, preferredEncoding));
    out.resize(out.size() + 28, 0x00);  // comment
    out.push_back(0x00);                // ID3v1.1: a track byte follows
    out.push_back(trackByte(tags.track));
    out.push_back(genreByte(tags.genre));
    return out;
}

void ID3Writer::write(const Tags& tags, const std::filesystem::path& audio,
                      const std::filesystem::path& destination) const {
    Bytes audioBytes = readWholeFile(audio);
    Bytes out;
    if (writeV2) out = encodeV2(tags, static_cast<std::int64_t>(audioBytes.size()));
    append(out, audioBytes);
    append(out, encodeV1(tags));
    writeFileAtomically(destination, asText(out));
}

}  // namespace tarvik
