// The fields of an ASF (WMA) header, read here rather than by TagLib, whose
// ASF reader trusts an attribute count and spends seconds and gigabytes on
// a few hundred hostile bytes. Every object and attribute is checked
// against the room its parent leaves; reading goes forward only.
#include <algorithm>
#include <array>
#include <string_view>

#include "Core/Convert/CardTagsRead.hpp"
#include "Core/Convert/ID3Text.hpp"

namespace tarvik::cardtags {
namespace {

using Guid = std::array<std::uint8_t, 16>;

// As the GUIDs stand in the file: their first three parts little-endian.
constexpr Guid contentDescription = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                     0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid extendedContent = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11,
                                  0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
constexpr Guid headerExtension = {0xB5, 0x03, 0xBF, 0x5F, 0x2E, 0xA9, 0xCF, 0x11,
                                  0x8E, 0xE3, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr Guid metadata = {0xEA, 0xCB, 0xF8, 0xC5, 0xAF, 0x5B, 0x77, 0x48,
                           0x84, 0x67, 0xAA, 0x8C, 0x44, 0xFA, 0x4C, 0xCA};
constexpr Guid metadataLibrary = {0x94, 0x1C, 0x23, 0x44, 0x98, 0x94, 0xD1, 0x49,
                                  0xA1, 0x41, 0x1D, 0x13, 0x4E, 0x45, 0x70, 0x54};

// A part of the header: `at` moves forward through it, and every read
// checks the room left first.
struct Span {
    const Bytes& bytes;
    std::size_t at;
    std::size_t end;

    std::size_t left() const { return end - at; }
    bool has(std::size_t count) const { return count <= left(); }
    std::uint64_t number(int width) {
        const std::uint64_t value =
            numberAt(bytes, at, static_cast<std::size_t>(width), ByteOrder::little);
        at += static_cast<std::size_t>(width);
        return value;
    }
    bool isGuid(const Guid& guid) const {
        return has(16) && std::equal(guid.begin(), guid.end(),
                                     bytes.begin() + static_cast<std::ptrdiff_t>(at));
    }
};

// UTF-16LE as a text, up to its terminator; nothing for a lone surrogate
// or an odd length.
std::optional<std::string> utf16(const Bytes& bytes, std::size_t at, std::size_t length) {
    // An ID3 body in UTF-16 with its mark.
    Bytes body(3 + length);
    body[0] = 0x01;
    body[1] = 0xFF;
    body[2] = 0xFE;
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), length, body.begin() + 3);
    std::optional<std::string> text = id3::decodeText(body);
    if (text) text->resize(std::min(text->size(), text->find('\0')));
    return text;
}

// One named value of the extended content or the metadata objects.
void take(Found& found, const std::optional<std::string>& name, std::uint64_t type,
          const Bytes& bytes, std::size_t at, std::size_t length) {
    if (!name) return;
    std::string* field = *name == "WM/AlbumTitle"    ? &found.fields.album
                         : *name == "WM/AlbumArtist" ? &found.fields.albumArtist
                         : *name == "WM/TrackNumber" ? &found.fields.track
                                                     : nullptr;
    if (field == nullptr || !field->empty()) return;
    if (type == 0) {
        if (std::optional<std::string> text = utf16(bytes, at, length)) {
            *field = std::move(*text);
        } else {
            found.damaged = true;
        }
    } else if ((type == 3 && length == 4) || (type == 4 && length == 8) ||
               (type == 5 && length == 2)) {
        Span value{bytes, at, at + length};
        *field = std::to_string(value.number(static_cast<int>(length)));
    }
}

// Each reader below gives false where an object or a value runs past the
// room its parent leaves: the header is damaged there.
bool readDescription(Span object, Found& found) {
    if (!object.has(10)) return false;
    std::array<std::size_t, 5> lengths{};
    for (std::size_t& length : lengths) length = object.number(2);
    // The title and the author come first.
    for (std::string* field : {&found.fields.title, &found.fields.artist}) {
        const std::size_t length = lengths[field == &found.fields.title ? 0 : 1];
        if (!object.has(length)) return false;
        if (std::optional<std::string> text = utf16(object.bytes, object.at, length)) {
            *field = std::move(*text);
        }
        object.at += length;
    }
    return true;
}

bool readExtendedContent(Span object, Found& found) {
    if (!object.has(2)) return false;
    for (std::uint64_t count = object.number(2); count > 0; --count) {
        if (!object.has(2)) return false;
        const std::size_t nameLength = object.number(2);
        if (!object.has(nameLength)) return false;
        const std::optional<std::string> name = utf16(object.bytes, object.at, nameLength);
        object.at += nameLength;
        if (!object.has(4)) return false;
        const std::uint64_t type = object.number(2);
        const std::size_t length = object.number(2);
        if (!object.has(length)) return false;
        take(found, name, type, object.bytes, object.at, length);
        object.at += length;
    }
    return true;
}

// The metadata and metadata library objects share their records' form.
bool readMetadata(Span object, Found& found) {
    if (!object.has(2)) return false;
    for (std::uint64_t count = object.number(2); count > 0; --count) {
        if (!object.has(12)) return false;
        object.at += 4;  // the language and the stream
        const std::size_t nameLength = object.number(2);
        const std::uint64_t type = object.number(2);
        const std::uint64_t length = object.number(4);
        if (!object.has(nameLength) || length > object.left() - nameLength) return false;
        const std::optional<std::string> name = utf16(object.bytes, object.at, nameLength);
        object.at += nameLength;
        take(found, name, type, object.bytes, object.at, static_cast<std::size_t>(length));
        object.at += static_cast<std::size_t>(length);
    }
    return true;
}

// The objects from `within.at` to its end, each a GUID and a 64-bit size
// that counts its own header.
bool readObjects(Span within, Found& found, bool inExtension) {
    while (within.left() > 0) {
        if (!within.has(24)) return false;
        Span header{within.bytes, within.at + 16, within.end};
        const std::uint64_t size = header.number(8);
        if (size < 24 || size > within.left()) return false;
        Span body{within.bytes, within.at + 24, within.at + static_cast<std::size_t>(size)};
        bool whole = true;
        if (!inExtension && within.isGuid(contentDescription)) whole = readDescription(body, found);
        if (!inExtension && within.isGuid(extendedContent))
            whole = readExtendedContent(body, found);
        if (inExtension && (within.isGuid(metadata) || within.isGuid(metadataLibrary))) {
            whole = readMetadata(body, found);
        }
        if (!inExtension && within.isGuid(headerExtension)) {
            // A reserved GUID and word, then the size of the objects inside.
            if (!body.has(22)) return false;
            body.at += 18;
            const std::uint64_t length = body.number(4);
            if (length > body.left()) return false;
            body.end = body.at + static_cast<std::size_t>(length);
            whole = readObjects(body, found, true);
        }
        if (!whole) return false;
        within.at += static_cast<std::size_t>(size);
    }
    return true;
}

}  // namespace

Found asfFields(const Bytes& header) {
    Found found;
    // The header object's GUID, its size, the number of objects and two
    // reserved bytes; the file may have ended within it.
    if (header.size() < 30) {
        found.damaged = true;
        return found;
    }
    found.damaged = !readObjects(Span{header, 30, header.size()}, found, false);
    return found;
}

}  // namespace tarvik::cardtags
