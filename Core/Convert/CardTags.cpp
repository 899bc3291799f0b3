#include "Core/Convert/CardTags.hpp"

#include <flacfile.h>
#include <id3v2tag.h>
#include <mp4file.h>
#include <mpegfile.h>
#include <opusfile.h>
#include <tbytevectorstream.h>
#include <textidentificationframe.h>
#include <vorbisfile.h>
#include <xiphcomment.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "Core/Convert/CardTagsRead.hpp"
#include "Core/Convert/ID3Tag.hpp"
#include "Core/Convert/ID3Writer.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik::CardTags {
namespace {

using cardtags::BoundedReader;

// Everything TagLib gets: a copy of the tag's bytes, never the file.
TagLib::ByteVector vectorOf(const Bytes& bytes) {
    return TagLib::ByteVector(reinterpret_cast<const char*>(bytes.data()),
                              static_cast<unsigned int>(bytes.size()));
}

std::string utf8(const TagLib::String& text) {
    return text.to8Bit(true);
}

// Values joined by U+0000, as one field.
std::string joined(const TagLib::StringList& values) {
    std::string text;
    for (auto value = values.begin(); value != values.end(); ++value) {
        if (value != values.begin()) text.push_back('\0');
        text += utf8(*value);
    }
    return text;
}

// The fields a card file is judged by, each under its form's own name (no
// track name: the form keeps the track otherwise).
struct FieldNames {
    const char* title;
    const char* artist;
    const char* albumArtist;
    const char* album;
    const char* track = nullptr;
};

template <typename Text>
void readFields(SourceTags& fields, const FieldNames& names, const Text& text) {
    fields.title = text(names.title);
    fields.artist = text(names.artist);
    fields.albumArtist = text(names.albumArtist);
    fields.album = text(names.album);
    if (names.track != nullptr) fields.track = text(names.track);
}

// ID3v2: the tag as TagLib reads it without fault. Its own unsynchronisation
// of a whole version 2.2 or 2.3 tag is undone here, and an extended header
// left out, which TagLib 1.13 measures wrongly in version 2.3 (and loses the
// last frames behind in version 2.4).
struct ID3Tag {
    Bytes plain;           // a tag of the same version without those
    bool damaged = false;  // its frames end in anything but zeros
    bool readable = true;  // its header and flags are of a tag TagLib reads
};

Bytes withoutUnsynchronisation(const Bytes& body) {
    Bytes plain;
    plain.reserve(body.size());
    for (std::size_t at = 0; at < body.size(); ++at) {
        plain.push_back(body[at]);
        if (body[at] == 0xFF && at + 1 < body.size() && body[at + 1] == 0) ++at;
    }
    return plain;
}

// Where the frames of a plain tag's body end by their own sizes, walking
// forward only; a frame that runs past the body, or a header that is no
// frame's, ends them.
std::size_t framesEnd(const Bytes& body, int major) {
    const std::size_t header = major == 2 ? 6 : 10;
    const std::size_t idLength = major == 2 ? 3 : 4;
    std::size_t at = 0;
    while (body.size() - at >= header) {
        const std::uint8_t* frame = body.data() + at;
        if (!std::all_of(frame, frame + idLength, [](std::uint8_t c) {
                return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
            })) {
            break;
        }
        const std::uint64_t size =
            major == 2 ? (std::uint64_t{frame[3]} << 16) | (std::uint64_t{frame[4]} << 8) | frame[5]
            : major == 4 ? id3::readSyncsafe(frame + 4)
                         : id3::readBigEndian32(frame + 4);
        if (size > body.size() - at - header) break;
        at += header + size;
    }
    return at;
}

ID3Tag plainID3(const Bytes& header, Bytes body) {
    ID3Tag tag;
    const int major = header[3];
    std::uint8_t flags = header[5];
    if (major < 2 || major > 4 ||
        std::any_of(header.begin() + 6, header.begin() + 10,
                    [](std::uint8_t b) { return b >= 0x80; }) ||
        (major == 2 && (flags & 0x40) != 0)) {  // 2.2's compression: no reader knows it
        tag.readable = false;
        return tag;
    }
    if (major <= 3 && (flags & 0x80) != 0) {
        body = withoutUnsynchronisation(body);
        flags &= 0x7F;
    }
    if (major >= 3 && (flags & 0x40) != 0) {
        if (body.size() < 4) {
            tag.readable = false;
            return tag;
        }
        // 2.3 counts the size after its own four bytes, 2.4 the whole header.
        const std::uint64_t length = major == 3
                                         ? 4 + std::uint64_t{id3::readBigEndian32(body.data())}
                                         : id3::readSyncsafe(body.data());
        if (length < 4 || length > body.size()) {
            tag.readable = false;
            return tag;
        }
        body.erase(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(length));
        flags &= static_cast<std::uint8_t>(~0x40);
    }
    flags &= static_cast<std::uint8_t>(~0x10);  // the footer is not copied
    const std::size_t end = framesEnd(body, major);
    tag.damaged = std::any_of(body.begin() + static_cast<std::ptrdiff_t>(end), body.end(),
                              [](std::uint8_t b) { return b != 0; });
    tag.plain = {'I', 'D', '3', static_cast<std::uint8_t>(major), 0, flags};
    const auto size = static_cast<std::uint32_t>(body.size());
    for (int shift : {21, 14, 7, 0})
        tag.plain.push_back(static_cast<std::uint8_t>((size >> shift) & 0x7F));
    tag.plain.insert(tag.plain.end(), body.begin(), body.end());
    return tag;
}

// The first frame of `id`'s values, for a text frame.
std::string frameText(const TagLib::ID3v2::Tag& tag, const char* id) {
    const TagLib::ID3v2::FrameList& frames = tag.frameListMap()[id];
    if (frames.isEmpty()) return {};
    if (const auto* text =
            dynamic_cast<const TagLib::ID3v2::TextIdentificationFrame*>(frames.front())) {
        return joined(text->fieldList());
    }
    return utf8(frames.front()->toString());
}

// The ID3v2 tag at the front, if any; `unreadable` when one is there that
// can't be read.
void readID3v2(BoundedReader& file, Tags& tags) {
    const Bytes header = file.take(0, 10);
    if (header.size() < 10 || !std::equal(header.begin(), header.begin() + 3, "ID3")) return;
    const std::uint64_t size = id3::readSyncsafe(header.data() + 6);
    if (size > tagLimit) {
        tags.unreadable = true;
        return;
    }
    // A tag cut short (a copy that ended early) is read as far as it goes.
    const ID3Tag tag = plainID3(header, file.take(10, static_cast<std::size_t>(size)));
    if (!tag.readable) {
        tags.unreadable = true;
        return;
    }
    TagLib::ByteVector bytes = vectorOf(tag.plain);
    TagLib::ByteVectorStream stream(bytes);
    TagLib::MPEG::File mpeg(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    const TagLib::ID3v2::Tag* read = mpeg.hasID3v2Tag() ? mpeg.ID3v2Tag(false) : nullptr;
    if (read == nullptr ||
        (read->frameList().isEmpty() && tag.plain.size() > 10 && tag.plain[10] != 0)) {
        tags.unreadable = true;
        return;
    }
    readFields(tags.fields, {"TIT2", "TPE1", "TPE2", "TALB", "TRCK"},
               [&](const char* id) { return frameText(*read, id); });
    tags.unreadable = tag.damaged && !tags.namesAlbum();
    if (tags.tagged()) tags.form = Form::id3v2;
}

// A 30-byte field of the ID3v1 trailer.
std::string trailerField(const Bytes& trailer, std::size_t at) {
    const auto begin = trailer.begin() + static_cast<std::ptrdiff_t>(at);
    return latin1Text(begin, begin + 30);
}

void readID3v1(BoundedReader& file, Tags& tags) {
    if (file.size() < 128) return;
    Bytes trailer = file.take(file.size() - 128, 128);
    if (trailer.size() != 128 || !std::equal(trailer.begin(), trailer.begin() + 3, "TAG")) return;
    SourceTags fields;
    fields.title = trailerField(trailer, 3);
    fields.artist = trailerField(trailer, 33);
    fields.album = trailerField(trailer, 63);
    // ID3v1.1: a zero, then the track's number, at the end of the comment.
    if (trailer[125] == 0 && trailer[126] != 0) fields.track = std::to_string(trailer[126]);
    if (fields.title.empty() && fields.artist.empty() && fields.album.empty()) return;
    tags.fields = std::move(fields);
    tags.trailer = std::move(trailer);
    tags.form = Form::id3v1;
    tags.unreadable = false;
}

std::string mp4Text(const TagLib::MP4::ItemMap& items, const char* key) {
    const auto item = items.find(key);
    return item == items.end() ? std::string() : joined(item->second.toStringList());
}

void readMP4(BoundedReader& file, Tags& tags) {
    const std::optional<cardtags::Movie> movie = cardtags::movieOf(file);
    if (!movie) return;
    if (!movie->readable) {
        tags.unreadable = true;
        return;
    }
    TagLib::ByteVector bytes = vectorOf(movie->bytes);
    TagLib::ByteVectorStream stream(bytes);
    TagLib::MP4::File mp4(&stream, false);
    const TagLib::MP4::Tag* tag = mp4.isValid() ? mp4.tag() : nullptr;
    if (tag == nullptr) {
        tags.unreadable = true;
        return;
    }
    const TagLib::MP4::ItemMap& items = tag->itemMap();
    readFields(tags.fields, {"\251nam", "\251ART", "aART", "\251alb"},
               [&](const char* key) { return mp4Text(items, key); });
    if (const auto track = items.find("trkn"); track != items.end()) {
        const TagLib::MP4::Item::IntPair pair = track->second.toIntPair();
        if (pair.first > 0) {
            tags.fields.track = std::to_string(pair.first) +
                                (pair.second > 0 ? "/" + std::to_string(pair.second) : "");
        }
    }
    tags.unreadable = movie->damaged && !tags.namesAlbum();
    if (tags.tagged()) tags.form = Form::mp4;
}

void readASF(BoundedReader& file, std::uint64_t at, Tags& tags) {
    const std::optional<Bytes> header = cardtags::asfHeaderOf(file, at);
    if (!header) {
        tags.unreadable = true;
        return;
    }
    cardtags::ASFFields found = cardtags::asfFields(*header);
    tags.fields = std::move(found.fields);
    tags.unreadable = found.damaged && !tags.namesAlbum();
    if (tags.tagged()) tags.form = Form::asf;
}

std::string xiphText(const TagLib::Ogg::XiphComment& comment, const char* name) {
    const TagLib::Ogg::FieldListMap& fields = comment.fieldListMap();
    const auto found = fields.find(name);
    return found == fields.end() ? std::string() : joined(found->second);
}

void readXiph(const TagLib::Ogg::XiphComment* comment, Tags& tags) {
    if (comment == nullptr) {
        tags.unreadable = true;
        return;
    }
    readFields(tags.fields, {"TITLE", "ARTIST", "ALBUMARTIST", "ALBUM", "TRACKNUMBER"},
               [&](const char* name) { return xiphText(*comment, name); });
    if (tags.tagged()) tags.form = Form::xiph;
}

void readFLAC(BoundedReader& file, std::uint64_t at, Tags& tags) {
    const std::optional<Bytes> blocks = cardtags::flacBlocksOf(file, at);
    if (!blocks) {
        tags.unreadable = true;
        return;
    }
    TagLib::ByteVector bytes = vectorOf(*blocks);
    TagLib::ByteVectorStream stream(bytes);
    TagLib::FLAC::File flac(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    readXiph(flac.isValid() && flac.hasXiphComment() ? flac.xiphComment(false) : nullptr, tags);
}

void readOgg(BoundedReader& file, std::uint64_t at, Tags& tags) {
    const Bytes head =
        file.take(at, static_cast<std::size_t>(std::min(file.size() - at, tagLimit)));
    TagLib::ByteVector bytes = vectorOf(head);
    TagLib::ByteVectorStream stream(bytes);
    TagLib::Ogg::Vorbis::File vorbis(&stream, false);
    if (vorbis.isValid()) return readXiph(vorbis.tag(), tags);
    stream.seek(0);
    TagLib::Ogg::Opus::File opus(&stream, false);
    readXiph(opus.isValid() ? opus.tag() : nullptr, tags);
}

}  // namespace

std::string latin1Text(Bytes::const_iterator begin, Bytes::const_iterator end) {
    std::u32string scalars(begin, end);
    while (!scalars.empty() && (scalars.back() == 0 || scalars.back() == U' ')) scalars.pop_back();
    return text::fromScalars(scalars);
}

bool Tags::tagged() const {
    return !fields.title.empty() || !fields.artist.empty() || namesAlbum();
}

bool Tags::namesAlbum() const {
    return !fields.album.empty() || !fields.albumArtist.empty();
}

Tags read(ByteSource& source, std::stop_token stop) {
    BoundedReader file(source, std::move(stop));
    Tags tags;
    readID3v2(file, tags);
    if (tags.form != Form::none) return tags;
    const bool unreadableID3 = tags.unreadable;
    tags = {};
    // What follows any tags in front says what the file is.
    const std::uint64_t at = id3::afterTags(file);
    const Bytes magic = file.take(at, 16);
    const auto is = [&](std::size_t offset, std::string_view text) {
        return magic.size() >= offset + text.size() &&
               std::equal(text.begin(), text.end(),
                          magic.begin() + static_cast<std::ptrdiff_t>(offset));
    };
    if (at == 0 && is(4, "ftyp")) {
        readMP4(file, tags);
    } else if (magic.size() == 16 && std::equal(cardtags::asfHeaderGuid.begin(),
                                                cardtags::asfHeaderGuid.end(), magic.begin())) {
        readASF(file, at, tags);
    } else if (is(0, "fLaC")) {
        readFLAC(file, at, tags);
    } else if (is(0, "OggS")) {
        readOgg(file, at, tags);
    }
    if (tags.form != Form::none) return tags;
    const bool unreadable = tags.unreadable || unreadableID3;
    readID3v1(file, tags);
    if (tags.form == Form::none) tags.unreadable = unreadable;
    return tags;
}

}  // namespace tarvik::CardTags
