// The tags of each kind's own form: MP4 items, ASF attributes, Vorbis
// comments of FLAC and Ogg, and the INFO list of a WAV file. TagLib reads
// the MP4 and Vorbis copies; the others are read here, bounded.
#include <flacfile.h>
#include <id3v2framefactory.h>
#include <mp4file.h>
#include <opusfile.h>
#include <tbytevectorstream.h>
#include <vorbisfile.h>
#include <xiphcomment.h>

#include <algorithm>

#include "Core/Convert/CardTags.hpp"
#include "Core/Convert/CardTagsRead.hpp"
#include "Core/Convert/CardTagsTagLib.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik::cardtags {
namespace {

const Found unreadable{{}, true};

std::string mp4Text(const TagLib::MP4::ItemMap& items, const char* key) {
    const auto item = items.find(key);
    return item == items.end() ? std::string() : joined(item->second.toStringList());
}

std::string xiphText(const TagLib::Ogg::XiphComment& comment, const char* name) {
    const TagLib::Ogg::FieldListMap& fields = comment.fieldListMap();
    const auto found = fields.find(name);
    return found == fields.end() ? std::string() : joined(found->second);
}

Found xiph(const TagLib::Ogg::XiphComment* comment) {
    if (comment == nullptr) return unreadable;
    return {fieldsOf({"TITLE", "ARTIST", "ALBUMARTIST", "ALBUM", "TRACKNUMBER", "DISCNUMBER"},
                     [&](const char* name) { return xiphText(*comment, name); })};
}

// An INFO text: UTF-8 where its bytes are (as ffmpeg and most writers put
// it), else one character a byte; without the zeros that end it.
std::string infoText(const Bytes& list, std::size_t at, std::size_t length) {
    const auto begin = list.begin() + static_cast<std::ptrdiff_t>(at);
    auto end = begin + static_cast<std::ptrdiff_t>(length);
    while (end != begin && *(end - 1) == 0) --end;
    const std::string text(begin, end);
    if (text::isValidUTF8(text)) return text;
    return CardTags::latin1Text(begin, end);
}

}  // namespace

std::optional<Found> mp4Items(BoundedReader& file) {
    const std::optional<Movie> movie = movieOf(file);
    if (!movie) return std::nullopt;
    if (!movie->readable) return unreadable;
    TagLib::ByteVector bytes = vectorOf(movie->bytes);
    TagLib::ByteVectorStream stream(bytes);
    TagLib::MP4::File mp4(&stream, false);
    const TagLib::MP4::Tag* tag = mp4.isValid() ? mp4.tag() : nullptr;
    if (tag == nullptr) return unreadable;
    const TagLib::MP4::ItemMap& items = tag->itemMap();
    Found found{fieldsOf({"\251nam", "\251ART", "aART", "\251alb"},
                         [&](const char* key) { return mp4Text(items, key); }),
                movie->damaged};
    const auto number = [&](const char* key) -> std::string {
        const auto item = items.find(key);
        if (item == items.end()) return {};
        const TagLib::MP4::Item::IntPair pair = item->second.toIntPair();
        if (pair.first <= 0) return {};
        return std::to_string(pair.first) +
               (pair.second > 0 ? "/" + std::to_string(pair.second) : "");
    };
    found.fields.track = number("trkn");
    found.fields.disc = number("disk");
    return found;
}

Found asfAttributes(BoundedReader& file, std::uint64_t at) {
    const std::optional<Bytes> header = asfHeaderOf(file, at);
    return header ? asfFields(*header) : unreadable;
}

Found flacComments(BoundedReader& file, std::uint64_t at) {
    const std::optional<Bytes> blocks = flacBlocksOf(file, at);
    if (!blocks) return unreadable;
    TagLib::ByteVector bytes = vectorOf(*blocks);
    TagLib::ByteVectorStream stream(bytes);
    TagLib::FLAC::File flac(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    // A stream without comments is untagged, not unreadable.
    if (flac.isValid() && !flac.hasXiphComment()) return {};
    return xiph(flac.isValid() ? flac.xiphComment(false) : nullptr);
}

Found oggComments(BoundedReader& file, std::uint64_t at) {
    const std::optional<Bytes> head = oggHeadOf(file, at);
    if (!head) return unreadable;
    TagLib::ByteVector bytes = vectorOf(*head);
    TagLib::ByteVectorStream stream(bytes);
    TagLib::Ogg::Vorbis::File vorbis(&stream, false);
    if (vorbis.isValid()) return xiph(vorbis.tag());
    stream.seek(0);
    TagLib::Ogg::Opus::File opus(&stream, false);
    return xiph(opus.isValid() ? opus.tag() : nullptr);
}

Found infoFields(const Bytes& list) {
    Found found;
    std::size_t at = 0;
    while (list.size() - at >= 8) {
        const std::string id(list.begin() + static_cast<std::ptrdiff_t>(at),
                             list.begin() + static_cast<std::ptrdiff_t>(at + 4));
        const std::uint64_t length = numberAt(list, at + 4, 4, ByteOrder::little);
        if (length > list.size() - at - 8) {
            found.damaged = true;
            break;
        }
        std::string* field = id == "INAM"                   ? &found.fields.title
                             : id == "IART"                 ? &found.fields.artist
                             : id == "IPRD"                 ? &found.fields.album
                             : id == "ITRK" || id == "IPRT" ? &found.fields.track
                                                            : nullptr;
        if (field != nullptr && field->empty()) {
            *field = infoText(list, at + 8, static_cast<std::size_t>(length));
        }
        // Each text is padded to an even length.
        at = std::min(list.size(), at + 8 + static_cast<std::size_t>(length + length % 2));
    }
    return found;
}

}  // namespace tarvik::cardtags
