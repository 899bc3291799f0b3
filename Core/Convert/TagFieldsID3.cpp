// Single fields of the ID3v2 tag: text frames decoded from any of the four
// encodings and written back in their place with the replaced frame's
// encoding, flags and terminator where the text allows, so that writing the
// old text back gives the old frame byte for byte.

#include <unicode/utf16.h>

#include <algorithm>

#include "Core/Convert/ID3Tag.hpp"
#include "Core/Convert/ID3Writer.hpp"
#include "Core/Convert/TagFields.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/TextEncoding.hpp"

namespace tarvik::TagFields {
namespace {

constexpr std::size_t padding = 1024;

std::string frameID(Field field, int major) {
    switch (field) {
        case Field::title:
            return "TIT2";
        case Field::artist:
            return "TPE1";
        case Field::albumArtist:
            return "TPE2";
        case Field::album:
            return "TALB";
        case Field::track:
            return "TRCK";
        case Field::disc:
            return "TPOS";
        case Field::date:
            return major == 4 ? "TDRC" : "TYER";
        case Field::genre:
            return "TCON";
    }
    return {};
}

// Undecodable text: its bytes behind a byte that UTF-8 never has.
std::string undecodable(const Bytes& body) {
    return "\xFF" + std::string(body.begin(), body.end());
}

// Values read as raw bytes go back as the bytes they were read from: text in
// no known encoding (behind the marker) as its frame body; text that is not
// UTF-8, which only a UTF-8 frame gives as it is, in a UTF-8 frame.
bool isRaw(std::string_view value) {
    return value.starts_with('\xFF') || !text::isValidUTF8(value);
}

// UTF-16 strings separated by a zero unit, each with an optional byte order
// mark; `bigEndian` is the order without one.
std::optional<std::string> decodeUTF16(const Bytes& bytes, bool bigEndian) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    std::u16string units;
    bool atStart = true;
    bool order = bigEndian;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        if (atStart && ((bytes[i] == 0xFF && bytes[i + 1] == 0xFE) ||
                        (bytes[i] == 0xFE && bytes[i + 1] == 0xFF))) {
            order = bytes[i] == 0xFE;
            atStart = false;
            continue;
        }
        const char16_t unit = order ? static_cast<char16_t>(bytes[i] << 8 | bytes[i + 1])
                                    : static_cast<char16_t>(bytes[i + 1] << 8 | bytes[i]);
        units.push_back(unit);
        atStart = unit == 0;
        if (unit == 0) order = bigEndian;
    }
    std::string out;
    for (std::size_t i = 0; i < units.size();) {
        char32_t scalar = units[i++];
        if (U16_IS_LEAD(scalar) && i < units.size() && U16_IS_TRAIL(units[i])) {
            scalar = U16_GET_SUPPLEMENTARY(scalar, units[i++]);
        } else if (U16_IS_SURROGATE(scalar)) {
            return std::nullopt;
        }
        text::appendScalar(out, scalar);
    }
    return out;
}

// Frame format flags (compression, encryption, unsynchronisation, a data
// length): the body is then no plain text.
bool hasFormatFlags(const id3::Frame& frame, int major) {
    if (frame.raw.size() < 10) return true;
    return (frame.raw[9] & (major == 4 ? 0x4F : 0xE0)) != 0;
}

[[noreturn]] void unreadable(const id3::Frame& frame) {
    throw ConversionError("扱えない ID3 フレームです: " + frame.id);
}

std::optional<Bytes> encode(std::string_view value, std::uint8_t encoding) {
    Bytes body;
    switch (encoding) {
        case 0: {
            std::optional<Bytes> latin1 = text::toLatin1(value);
            if (!latin1) return std::nullopt;
            body = std::move(*latin1);
            break;
        }
        case 1:
        case 2: {
            // Each string of a list carries its own byte order mark.
            std::size_t start = 0;
            for (std::size_t end;; start = end + 1) {
                end = value.find('\0', start);
                const Bytes units = text::toUTF16LE(value.substr(start, end - start));
                if (encoding == 1) body.insert(body.end(), {0xFF, 0xFE});
                for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
                    if (encoding == 1) {
                        body.insert(body.end(), {units[i], units[i + 1]});
                    } else {
                        body.insert(body.end(), {units[i + 1], units[i]});
                    }
                }
                if (end == std::string_view::npos) break;
                body.insert(body.end(), {0x00, 0x00});
            }
            break;
        }
        case 3:
            body.assign(value.begin(), value.end());
            break;
        default:
            return std::nullopt;
    }
    body.insert(body.begin(), encoding);
    return body;
}

// The frame for `value` in the replaced frame's form, or in the writer's
// own form where there is none or the text doesn't fit its encoding.
Bytes newFrame(const std::string& id, const std::string& value, const id3::Frame* replaced,
               const ID3Writer& writer, int major) {
    const auto version = major == 4 ? ID3Writer::Version::v2_4 : ID3Writer::Version::v2_3;
    const auto inPlaceOfReplaced = [&](const Bytes& body) {
        Bytes frame = id3::frame(id, body, version);
        if (replaced != nullptr) {
            frame[8] = replaced->raw[8];  // the status flags stay
            frame[9] = replaced->raw[9];
        }
        return frame;
    };
    if (value.starts_with('\xFF')) return inPlaceOfReplaced(Bytes(value.begin() + 1, value.end()));
    const Bytes oldBody = replaced == nullptr ? Bytes{} : id3::frameBody(*replaced);
    // Only a UTF-8 frame holds bytes that are not UTF-8 as they are.
    const bool fits = !oldBody.empty() && (oldBody[0] == 3 || text::isValidUTF8(value));
    std::optional<Bytes> body = fits ? encode(value, oldBody[0]) : std::nullopt;
    if (!body) {
        // The writer's own form; bytes that are not UTF-8 as they are.
        if (text::isValidUTF8(value)) return writer.textFrame(id, value);
        return id3::frame(id, *encode(value, 3), version);
    }
    const std::size_t unit = oldBody[0] == 1 || oldBody[0] == 2 ? 2 : 1;
    const bool terminated = oldBody.size() >= 1 + unit &&
                            std::all_of(oldBody.end() - static_cast<std::ptrdiff_t>(unit),
                                        oldBody.end(), [](std::uint8_t b) { return b == 0; });
    if (terminated) body->insert(body->end(), unit, 0x00);
    return inPlaceOfReplaced(*body);
}

std::string decodeText(const Bytes& body) {
    if (body.empty()) return {};
    const Bytes rest(body.begin() + 1, body.end());
    std::optional<std::string> decoded;
    switch (body[0]) {
        case 0: {
            std::string latin1;
            for (std::uint8_t byte : rest) text::appendScalar(latin1, byte);
            decoded = latin1;
            break;
        }
        case 1:
            decoded = decodeUTF16(rest, false);
            break;
        case 2:
            decoded = decodeUTF16(rest, true);
            break;
        case 3:
            decoded = std::string(rest.begin(), rest.end());
            break;
        default:
            break;
    }
    if (!decoded) return undecodable(body);
    // The terminator after the last string is not part of the value.
    while (!decoded->empty() && decoded->back() == '\0') decoded->pop_back();
    return *decoded;
}

}  // namespace

Values readID3(const Bytes& head) {
    const id3::ParsedTag tag = id3::parseTag(head);
    Values values;
    for (Field field : allFields) {
        const std::string id = frameID(field, tag.major);
        const auto frame = std::find_if(tag.frames.begin(), tag.frames.end(),
                                        [&](const id3::Frame& f) { return f.id == id; });
        if (frame == tag.frames.end()) {
            values[field] = std::nullopt;
            continue;
        }
        if (hasFormatFlags(*frame, tag.major)) unreadable(*frame);
        values[field] = decodeText(id3::frameBody(*frame));
    }
    return values;
}

void patchID3(ByteSource& file, const Values& values, std::optional<std::uint64_t> wanted,
              ByteSink& out) {
    const Bytes head = id3::readHead(file);
    id3::ParsedTag tag = id3::parseTag(head);
    const bool anyValue = std::any_of(values.begin(), values.end(),
                                      [](const auto& entry) { return entry.second.has_value(); });
    if (!tag.present && !anyValue) return out.copy(file, 0, file.size());

    const ID3Writer::Version version =
        tag.major == 4 ? ID3Writer::Version::v2_4 : ID3Writer::Version::v2_3;
    const ID3Writer writer{version, ID3Writer::TextEncoding::utf8, false, true};
    const Values old = readID3(head);
    for (const auto& [field, value] : values) {
        const std::string id = frameID(field, tag.major);
        const auto first = std::find_if(tag.frames.begin(), tag.frames.end(),
                                        [&](const id3::Frame& f) { return f.id == id; });
        std::optional<Bytes> replacement;
        if (value) {
            const bool numbered = field == Field::track || field == Field::disc;
            replacement =
                newFrame(id, numbered && !isRaw(*value) ? withTotal(*value, old.at(field)) : *value,
                         first == tag.frames.end() ? nullptr : &*first, writer, tag.major);
        }
        bool placed = false;
        for (auto frame = tag.frames.begin(); frame != tag.frames.end();) {
            if (frame->id != id) {
                ++frame;
            } else if (replacement && !placed) {
                frame->raw = *replacement;  // in the old frame's place
                placed = true;
                ++frame;
            } else {
                frame = tag.frames.erase(frame);
            }
        }
        if (replacement && !placed) tag.frames.push_back({id, *replacement});
    }

    Bytes frames;
    for (const id3::Frame& frame : tag.frames) {
        frames.insert(frames.end(), frame.raw.begin(), frame.raw.end());
    }
    // The old tag's room is kept where the frames fit, so the audio stays
    // where it was; otherwise fresh padding.
    const std::uint64_t room =
        tag.present ? tag.audioStart - std::min<std::uint64_t>(tag.audioStart, 10) : 0;
    std::uint64_t size = frames.size() <= room && tag.present ? room : frames.size() + padding;
    const std::uint64_t audio = file.size() - tag.audioStart;
    if (wanted && frames.empty() && *wanted == audio) {
        return out.copy(file, tag.audioStart, audio);
    }
    if (wanted && *wanted >= 10 + audio + frames.size()) size = *wanted - 10 - audio;
    if (size >= ID3Writer::tagSizeLimit) throw ConversionError("ID3 タグが壊れています");

    Bytes tagBytes = {'I', 'D', '3', static_cast<std::uint8_t>(tag.major), 0x00, 0x00};
    const auto sizeBytes = id3::syncsafe(static_cast<std::uint32_t>(size));
    tagBytes.insert(tagBytes.end(), sizeBytes.begin(), sizeBytes.end());
    tagBytes.insert(tagBytes.end(), frames.begin(), frames.end());
    tagBytes.resize(tagBytes.size() + static_cast<std::size_t>(size - frames.size()), 0x00);
    out.append(tagBytes);
    out.copy(file, tag.audioStart, audio);
}

Bytes patchID3(const Bytes& file, const Values& values, std::optional<std::uint64_t> wanted) {
    MemorySource source(file);
    MemorySink out;
    patchID3(source, values, wanted, out);
    return std::move(out.bytes());
}

}  // namespace tarvik::TagFields
