// The tags of a card file (every ID3v2 version and form, ID3v1, MP4, ASF,
// Vorbis comments, WAV and AIFF chunks) on any bytes: it never throws, hands
// TagLib nothing it could recurse on without end, and what it gives is
// consistent: fields only with a form, each field one of its tags', the
// trailer only with an ID3v1 tag among them, every field UTF-8.
#include <algorithm>
#include <array>

#include "Core/Convert/CardTags.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Testing/Fuzz.hpp"

namespace tarvik {
namespace {

void run(std::span<const std::uint8_t> data) {
    const Bytes bytes(data.begin(), data.end());
    MemorySource source(bytes);
    const CardTags::Tags tags = CardTags::read(source);
    const bool v1 = std::ranges::find(tags.each, CardTags::Form::id3v1, &CardTags::Tag::form) !=
                    tags.each.end();
    if (v1 != (tags.trailer.size() == 128) || (!v1 && !tags.trailer.empty())) {
        throw fuzz::Finding("a trailer without an ID3v1 tag, or of another length");
    }
    if ((tags.form != CardTags::Form::none) != tags.tagged() ||
        tags.each.empty() != (tags.form == CardTags::Form::none) ||
        (!tags.each.empty() && tags.each.front().form != tags.form)) {
        throw fuzz::Finding("fields without a form, or a form without fields");
    }
    if (tags.unreadable && tags.namesAlbum()) {
        throw fuzz::Finding("an album named, yet nobody can tell whose the file is");
    }
    const auto fields = [](const SourceTags& of) {
        return std::array{&of.title, &of.artist, &of.albumArtist, &of.album, &of.track};
    };
    for (std::size_t field = 0; field < 5; ++field) {
        if (!text::isValidUTF8(*fields(tags.fields)[field])) {
            throw fuzz::Finding("a field that is no UTF-8");
        }
        std::string first;
        for (const CardTags::Tag& tag : tags.each) {
            if (first.empty()) first = *fields(tag.fields)[field];
        }
        if (*fields(tags.fields)[field] != first) {
            throw fuzz::Finding("a field that is not the first its tags hold");
        }
    }
}

const fuzz::Registration registration("CardTags", run);

}  // namespace
}  // namespace tarvik
