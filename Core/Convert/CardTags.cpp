#include "Core/Convert/CardTags.hpp"

#include <algorithm>
#include <optional>

#include "Core/Convert/AudioKind.hpp"
#include "Core/Convert/CardTagsRead.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik::CardTags {
namespace {

using AudioKind::Kind;
using cardtags::BoundedReader;
using cardtags::Found;

bool namesAlbum(const SourceTags& fields) {
    return !fields.album.empty() || !fields.albumArtist.empty();
}

bool tagged(const SourceTags& fields) {
    return !fields.title.empty() || !fields.artist.empty() || namesAlbum(fields);
}

// The tags of one file as they are read, one after another.
class Collected {
public:
    // A tag that is there; `doubt` what it may have named beyond what it
    // gave.
    void add(Form form, const Found& found) {
        doubt_ = doubt_ || found.damaged;
        if (tagged(found.fields)) tags_.each.push_back({form, found.fields});
    }
    void add(Form form, const std::optional<Found>& found) {
        if (found) add(form, *found);
    }
    void trailer(Bytes bytes) { tags_.trailer = std::move(bytes); }

    Tags done() && {
        for (const Tag& tag : tags_.each) {
            SourceTags& fields = tags_.fields;
            for (auto [into, from] : {std::pair{&fields.title, &tag.fields.title},
                                      {&fields.artist, &tag.fields.artist},
                                      {&fields.albumArtist, &tag.fields.albumArtist},
                                      {&fields.album, &tag.fields.album},
                                      {&fields.track, &tag.fields.track},
                                      {&fields.disc, &tag.fields.disc}}) {
                if (into->empty()) *into = *from;
            }
        }
        if (!tags_.each.empty()) tags_.form = tags_.each.front().form;
        if (std::ranges::find(tags_.each, Form::id3v1, &Tag::form) == tags_.each.end()) {
            tags_.trailer.clear();
        }
        tags_.unreadable = doubt_ && !tags_.namesAlbum();
        return std::move(tags_);
    }

private:
    Tags tags_;
    bool doubt_ = false;
};

// The ID3v2 tag at the front, if any. A tag cut short (a copy that ended
// early) is read as far as it goes.
std::optional<Found> frontID3(BoundedReader& file) {
    const Bytes header = file.take(0, 10);
    if (header.size() < 10 || !std::equal(header.begin(), header.begin() + 3, "ID3")) {
        return std::nullopt;
    }
    std::uint64_t size = 0;
    for (std::size_t at = 6; at < 10; ++at) size = (size << 7) | (header[at] & 0x7F);
    if (size > tagLimit) return Found{{}, true};
    Bytes tag = header;
    const Bytes body = file.take(10, static_cast<std::size_t>(size));
    tag.insert(tag.end(), body.begin(), body.end());
    return cardtags::id3v2(tag);
}

// A 30-byte field of the ID3v1 trailer.
std::string trailerField(const Bytes& trailer, std::size_t at) {
    const auto begin = trailer.begin() + static_cast<std::ptrdiff_t>(at);
    return latin1Text(begin, begin + 30);
}

void readID3v1(BoundedReader& file, Collected& tags) {
    if (file.size() < 128) return;
    Bytes trailer = file.take(file.size() - 128, 128);
    if (trailer.size() != 128 || !std::equal(trailer.begin(), trailer.begin() + 3, "TAG")) return;
    Found found;
    found.fields.title = trailerField(trailer, 3);
    found.fields.artist = trailerField(trailer, 33);
    found.fields.album = trailerField(trailer, 63);
    // ID3v1.1: a zero, then the track's number, at the end of the comment.
    if (trailer[125] == 0 && trailer[126] != 0) found.fields.track = std::to_string(trailer[126]);
    tags.add(Form::id3v1, found);
    tags.trailer(std::move(trailer));
}

// A WAV or AIFF file's ID3 chunk and INFO list.
void readChunks(BoundedReader& file, std::uint64_t at, ByteOrder order, Collected& tags) {
    const cardtags::Chunks chunks = cardtags::chunksOf(file, at + 12, order);
    if (chunks.tooLarge) tags.add(Form::none, Found{{}, true});
    if (chunks.id3) tags.add(Form::id3v2, cardtags::id3v2(*chunks.id3));
    if (chunks.info) tags.add(Form::riffInfo, cardtags::infoFields(*chunks.info));
}

}  // namespace

std::string latin1Text(Bytes::const_iterator begin, Bytes::const_iterator end) {
    std::u32string scalars(begin, end);
    while (!scalars.empty() && (scalars.back() == 0 || scalars.back() == U' ')) scalars.pop_back();
    return text::fromScalars(scalars);
}

bool Tags::tagged() const {
    return CardTags::tagged(fields);
}

bool Tags::namesAlbum() const {
    return CardTags::namesAlbum(fields);
}

Tags read(ByteSource& source, std::stop_token stop) {
    BoundedReader file(source, std::move(stop));
    const AudioKind::Start start = AudioKind::of(file);
    const std::optional<Found> front = frontID3(file);
    Collected tags;
    // The kind's own tag first, where it has one of its own; an ID3 tag in
    // front of it is another program's.
    switch (start.kind) {
        case Kind::mp4:
            tags.add(Form::mp4, cardtags::mp4Items(file));
            break;
        case Kind::asf:
            tags.add(Form::asf, cardtags::asfAttributes(file, start.at));
            break;
        case Kind::flac:
            tags.add(Form::xiph, cardtags::flacComments(file, start.at));
            break;
        case Kind::ogg:
            tags.add(Form::xiph, cardtags::oggComments(file, start.at));
            break;
        case Kind::wave:
        case Kind::rf64:
        case Kind::aiff:
        case Kind::mpeg:
            break;
    }
    tags.add(Form::id3v2, front);
    if (start.kind == Kind::wave || start.kind == Kind::rf64) {
        readChunks(file, start.at, ByteOrder::little, tags);
    } else if (start.kind == Kind::aiff) {
        readChunks(file, start.at, ByteOrder::big, tags);
    }
    readID3v1(file, tags);
    return std::move(tags).done();
}

}  // namespace tarvik::CardTags
