// The tags of a card file (every ID3v2 version and form, ID3v1, MP4, ASF,
// Vorbis comments) on any bytes: it never throws, hands TagLib nothing it
// could recurse on without end, and what it gives is consistent: fields only
// with a form, the trailer only with ID3v1, every field UTF-8.
#include "Core/Convert/CardTags.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Testing/Fuzz.hpp"

namespace tarvik {
namespace {

void run(std::span<const std::uint8_t> data) {
    const Bytes bytes(data.begin(), data.end());
    MemorySource source(bytes);
    const CardTags::Tags tags = CardTags::read(source);
    const bool v1 = tags.form == CardTags::Form::id3v1;
    if (v1 != (tags.trailer.size() == 128) || (!v1 && !tags.trailer.empty())) {
        throw fuzz::Finding("a trailer without the ID3v1 form, or of another length");
    }
    if ((tags.form != CardTags::Form::none) != tags.tagged()) {
        throw fuzz::Finding("fields without a form, or a form without fields");
    }
    for (const std::string* field :
         {&tags.fields.title, &tags.fields.artist, &tags.fields.albumArtist, &tags.fields.album,
          &tags.fields.track}) {
        if (!text::isValidUTF8(*field)) throw fuzz::Finding("a field that is no UTF-8");
    }
}

const fuzz::Registration registration("CardTags", run);

}  // namespace
}  // namespace tarvik
