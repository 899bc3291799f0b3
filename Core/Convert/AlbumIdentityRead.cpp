// Reading the identities back cheaply: a re-export looks at every track
// already on the card, so only the tag at the front of an MP3 and the few
// atom headers on the way to an M4A's item list are read. Every size read
// from the file is compared with the room left (`size > end - at`), so that
// no sum wraps round, and every walk moves forward.
#include <algorithm>
#include <cstdint>

#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Convert/ID3Writer.hpp"
#include "Core/Convert/MP4Atoms.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/FileStreams.hpp"

namespace tarvik::AlbumIdentity {
namespace {

// Bounds on what a tag may make us read: far above any tag we write.
constexpr std::uint64_t tagReadLimit = 1U << 24;
constexpr std::size_t firstRead = 4096;

// The file's bytes, the stop heeded before each read.
class Reader final : public ByteSource {
public:
    Reader(ByteSource& file, std::stop_token stop) : file_(file), stop_(std::move(stop)) {}

    std::uint64_t size() const override { return file_.size(); }

    Bytes read(std::uint64_t offset, std::size_t length) override {
        if (stop_.stop_requested()) throw Cancelled();
        return file_.read(offset, length);
    }

private:
    ByteSource& file_;
    std::stop_token stop_;
};

// An ASCII text from an ID3 text of the given encoding; nothing when it holds
// anything else (an identity is hexadecimal digits).
std::optional<std::string> asciiText(const std::uint8_t* data, std::size_t length,
                                     std::uint8_t encoding) {
    std::string text;
    if (encoding == 0 || encoding == 3) {
        text.assign(data, data + length);
    } else {
        std::size_t at = 0;
        bool bigEndian = encoding == 2;
        if (encoding == 1 && length >= 2) {
            bigEndian = data[0] == 0xFE && data[1] == 0xFF;
            at = 2;
        }
        for (; at + 1 < length; at += 2) {
            const std::uint8_t high = bigEndian ? data[at] : data[at + 1];
            const std::uint8_t low = bigEndian ? data[at + 1] : data[at];
            if (high != 0) return std::nullopt;
            text += static_cast<char>(low);
        }
    }
    if (std::ranges::any_of(text, [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
        return std::nullopt;
    }
    return text;
}

// Which of ours a TXXX description names, if any.
std::optional<std::string>* slotFor(Carried& carried, const std::optional<std::string>& name) {
    if (name == ID3Writer::albumIdentityDescription) return &carried.album;
    if (name == ID3Writer::trackIdentityDescription) return &carried.track;
    return nullptr;
}

// The value of a TXXX body that is one of ours, put where it belongs.
void takeUserText(const Bytes& body, Carried& carried) {
    if (body.empty()) return;
    const std::uint8_t encoding = body[0];
    const std::size_t unit = encoding == 1 || encoding == 2 ? 2 : 1;
    std::size_t end = 1;
    while (end + unit <= body.size() && !(body[end] == 0 && (unit == 1 || body[end + 1] == 0))) {
        end += unit;
    }
    if (end + unit > body.size()) return;
    std::optional<std::string>* slot =
        slotFor(carried, asciiText(body.data() + 1, end - 1, encoding));
    if (slot == nullptr || *slot) return;
    std::size_t valueEnd = body.size();
    while (valueEnd >= end + unit + unit && body[valueEnd - 1] == 0) --valueEnd;
    // A zero cut from a two-byte unit goes back, but never past the frame:
    // a value of odd length ends inside its last unit.
    if (unit == 2 && (valueEnd - end) % 2 != 0 && valueEnd < body.size()) ++valueEnd;
    *slot = asciiText(body.data() + end + unit, valueEnd - end - unit, encoding);
}

// Whether the file begins with an ID3v2 tag; what it carries of ours then
// goes into `carried`.
bool fromID3(Reader& file, Carried& carried) {
    Bytes tag = file.read(0, firstRead);
    if (tag.size() < 10 || tag[0] != 'I' || tag[1] != 'D' || tag[2] != '3') return false;
    const std::uint8_t major = tag[3];
    const std::uint8_t flags = tag[5];
    // Unsynchronised tags and versions before 2.3 are never ours.
    if ((major != 3 && major != 4) || (flags & 0x80) != 0) return true;
    const std::uint64_t end = 10 + std::uint64_t{id3::readSyncsafe(tag.data() + 6)};
    if (end > tagReadLimit) return true;
    std::uint64_t at = 10;
    if ((flags & 0x40) != 0 && tag.size() >= 14) {  // an extended header
        at += major == 4 ? id3::readSyncsafe(tag.data() + 10)
                         : 4 + std::uint64_t{id3::readBigEndian32(tag.data() + 10)};
    }
    // Whether `length` bytes from `at` are in memory; the frames may go on
    // past the first read, and then the rest of the tag is read, once.
    bool whole = tag.size() >= end;
    const auto holds = [&](std::uint64_t length) {
        if (!whole && (at > tag.size() || length > tag.size() - at)) {
            tag = file.read(0, static_cast<std::size_t>(end));
            whole = true;
        }
        return at <= tag.size() && length <= tag.size() - at;
    };
    while (at < end && end - at >= 10 && !(carried.album && carried.track)) {
        if (!holds(10)) return true;
        const std::uint8_t* header = tag.data() + at;
        if (header[0] == 0) return true;  // padding: no more frames
        const std::uint64_t size =
            major == 4 ? id3::readSyncsafe(header + 4) : id3::readBigEndian32(header + 4);
        if (size > end - at - 10) return true;
        if (std::equal(header, header + 4, "TXXX")) {
            if (!holds(10 + size)) return true;
            const auto body = tag.begin() + static_cast<std::ptrdiff_t>(at + 10);
            takeUserText(Bytes(body, body + static_cast<std::ptrdiff_t>(size)), carried);
        }
        at += 10 + size;
    }
    return true;
}

std::string textOf(Reader& file, const mp4::Atom& atom, std::uint64_t skip) {
    if (atom.end - atom.payload < skip || atom.end - atom.payload - skip > 1024) return {};
    const Bytes bytes =
        file.read(atom.payload + skip, static_cast<std::size_t>(atom.end - atom.payload - skip));
    return std::string(bytes.begin(), bytes.end());
}

void fromM4A(Reader& file, Carried& carried) {
    // No more atoms in all than any real file holds.
    std::size_t budget = mp4::atomsInAll;
    const auto child = [&](std::uint64_t begin, std::uint64_t end, std::string_view type) {
        return mp4::findAtom(file, begin, end, type, budget);
    };
    std::optional<mp4::Atom> atom = child(0, file.size(), "moov");
    for (std::string_view type : {"udta", "meta"}) {
        if (atom) atom = child(atom->payload, atom->end, type);
    }
    // "meta" is a full atom: a version and flags before its children.
    if (atom && atom->end - atom->payload >= 4) {
        atom = child(atom->payload + 4, atom->end, "ilst");
    } else {
        atom.reset();
    }
    if (!atom) return;
    std::optional<std::string> former;
    for (std::uint64_t at = atom->payload; at < atom->end;) {
        const std::optional<mp4::Atom> item = child(at, atom->end, "----");
        if (!item) break;
        const std::optional<mp4::Atom> mean = child(item->payload, item->end, "mean");
        const std::optional<mp4::Atom> name = child(item->payload, item->end, "name");
        const std::optional<mp4::Atom> data = child(item->payload, item->end, "data");
        if (mean && name && data && textOf(file, *mean, 4) == m4aMean) {
            const std::string named = textOf(file, *name, 4);
            std::optional<std::string>* slot = named == m4aAlbumName         ? &carried.album
                                               : named == m4aTrackName       ? &carried.track
                                               : named == m4aFormerAlbumName ? &former
                                                                             : nullptr;
            // "data": a type and a locale, then the text.
            if (slot != nullptr && !*slot) *slot = textOf(file, *data, 8);
        }
        at = item->end;
    }
    if (!carried.album) carried.album = std::move(former);
}

}  // namespace

Carried carried(ByteSource& source, std::stop_token stop) {
    Reader file(source, std::move(stop));
    Carried found;
    try {
        if (fromID3(file, found)) return found;
        const Bytes head = file.read(4, 4);
        if (head.size() != 4 || !std::equal(head.begin(), head.end(), "ftyp")) return found;
        fromM4A(file, found);
        return found;
    } catch (const ConversionError&) {
        return {};  // a read failed, or the file shrank meanwhile
    }
}

Carried carried(const std::filesystem::path& file, std::stop_token stop) {
    if (stop.stop_requested()) throw Cancelled();
    std::optional<FileSource> source;
    try {
        source.emplace(file);
    } catch (const ConversionError&) {
        return {};  // not there, no regular file, or not readable
    }
    return carried(*source, std::move(stop));
}

std::optional<std::string> read(ByteSource& source, std::stop_token stop) {
    return carried(source, std::move(stop)).album;
}

std::optional<std::string> read(const std::filesystem::path& file, std::stop_token stop) {
    return carried(file, std::move(stop)).album;
}

}  // namespace tarvik::AlbumIdentity
