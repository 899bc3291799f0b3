// The bounded reads behind CardTags: the bytes of a card file's tag taken in
// chunks with the stop heeded before each, and the parts of a file that
// TagLib is given a copy of (an MP4 file's "ftyp" and "moov", FLAC's
// metadata blocks, an Ogg stream's header pages, the ID3 chunk of a WAV or
// AIFF file), each no longer than the tag limit. The MP4 copy is walked
// first the way TagLib walks it, so that a hostile file is refused before
// TagLib's recursion goes deeper than a real file's. ASF headers and INFO
// lists are read here, not by TagLib. Also what each reader of one form
// gives. Internal to CardTags; pure, any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <stop_token>

#include "Core/Naming/SourceTags.hpp"
#include "Core/Platform/ByteStreams.hpp"

namespace tarvik::cardtags {

// A card file's bytes, the stop heeded before every read (Cancelled).
class BoundedReader final : public ByteSource {
public:
    BoundedReader(ByteSource& file, std::stop_token stop) : file_(file), stop_(std::move(stop)) {}

    std::uint64_t size() const override { return file_.size(); }
    Bytes read(std::uint64_t offset, std::size_t length) override;
    // Up to `length` bytes from `offset`, a chunk at a time.
    Bytes take(std::uint64_t offset, std::size_t length);

private:
    ByteSource& file_;
    std::stop_token stop_;
};

// What one of a file's tags gave, its fields as its form holds them.
// `damaged` where the tag is there but was not read whole (too large, of a
// version or form no reader knows, a part running past its room, the file
// ending inside it): what it named past the damage is lost.
struct Found {
    SourceTags fields;
    bool damaged = false;
};

// An ID3v2 tag: `tag` holds its ten-byte header and as much of the body as
// the file holds.
Found id3v2(const Bytes& tag);

struct Movie {
    Bytes bytes;           // the "ftyp" atom, then the "moov" atom
    bool readable = true;  // false: too large, or nested or numbered past any real file
    // An atom in it runs past its end, as TagLib finds, or the file ended
    // inside the movie (the copy's movie then says it ends with the copy).
    bool damaged = false;
};

// The movie of an MP4 file, whole or as far as the file holds it; nothing
// when the file holds none.
std::optional<Movie> movieOf(BoundedReader& file);

// The ASF header object at `at`, as far as the file holds it; nothing when
// its size is no header's or beyond the limit.
std::optional<Bytes> asfHeaderOf(BoundedReader& file, std::uint64_t at);

// The fields of an ASF header object (as asfHeaderOf gives it): the content
// description's title and author; the album, album artist and track of the
// extended content description and of the metadata objects. `damaged` where
// an object or a value runs past the room its parent leaves.
Found asfFields(const Bytes& header);

// "fLaC" at `at` and the metadata blocks after it, as far as the file holds
// them; nothing when they go on beyond the limit.
std::optional<Bytes> flacBlocksOf(BoundedReader& file, std::uint64_t at);

// The pages of the Ogg stream at `at` up to the one where its second packet
// ends (Vorbis and Opus keep their comments there), as far as the file
// holds them; nothing when they go on beyond the limit.
std::optional<Bytes> oggHeadOf(BoundedReader& file, std::uint64_t at);

// The tag chunks of a WAV (little-endian) or AIFF (big-endian) file whose
// chunks start at `at`: the ID3 chunk's body and, in WAV, the INFO list's
// (after "INFO"), each as far as the file holds it. `tooLarge` where one
// goes on beyond the limit.
struct Chunks {
    std::optional<Bytes> id3;
    std::optional<Bytes> info;
    bool tooLarge = false;
};
Chunks chunksOf(BoundedReader& file, std::uint64_t at, ByteOrder order);

// The title, artist, album and track of an INFO list's body.
Found infoFields(const Bytes& list);

// The tags of each kind's own form, read from the file (CardTagsNative.cpp):
// an MP4 file's items (nothing where it holds no movie), the attributes of
// the ASF header at `at`, and the Vorbis comments of the FLAC or Ogg stream
// at `at`.
std::optional<Found> mp4Items(BoundedReader& file);
Found asfAttributes(BoundedReader& file, std::uint64_t at);
Found flacComments(BoundedReader& file, std::uint64_t at);
Found oggComments(BoundedReader& file, std::uint64_t at);

}  // namespace tarvik::cardtags
