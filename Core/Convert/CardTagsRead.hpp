// The bounded reads behind CardTags: the bytes of a card file's tag taken in
// chunks with the stop heeded before each, and the parts of a file that
// TagLib is given a copy of (an MP4 file's "ftyp" and "moov", FLAC's
// metadata blocks), each no longer than the tag limit. The MP4 copy is
// walked first the way TagLib walks it, so that a hostile file is refused
// before TagLib's recursion goes deeper than a real file's. An ASF header
// is read here, not by TagLib. Internal to CardTags; pure, any thread.
#pragma once

#include <array>
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


struct Movie {
    Bytes bytes;           // the "ftyp" atom, then the "moov" atom
    bool readable = true;  // false: too large, or nested or numbered past any real file
    bool damaged = false;  // an atom in it runs past its end, as TagLib finds
};

// The movie of an MP4 file; nothing when the file holds none.
std::optional<Movie> movieOf(BoundedReader& file);

inline constexpr std::array<std::uint8_t, 16> asfHeaderGuid = {
    0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

// The ASF header object at `at`, as far as the file holds it; nothing when
// its size is no header's or beyond the limit.
std::optional<Bytes> asfHeaderOf(BoundedReader& file, std::uint64_t at);

// The fields of an ASF header object (as asfHeaderOf gives it): the content
// description's title and author; the album, album artist and track of the
// extended content description and of the metadata objects. `damaged` where
// an object or a value runs past the room its parent leaves.
struct ASFFields {
    SourceTags fields;
    bool damaged = false;
};
ASFFields asfFields(const Bytes& header);

// "fLaC" at `at` and the metadata blocks after it, as far as the file holds
// them; nothing when they go on beyond the limit.
std::optional<Bytes> flacBlocksOf(BoundedReader& file, std::uint64_t at);

}  // namespace tarvik::cardtags
