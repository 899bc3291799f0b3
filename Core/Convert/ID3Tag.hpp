// Walking the ID3v2 tag at the front of an MP3 file held in memory: its
// version, its frames raw and in order, and where the audio begins. Shared by
// the tag editor and the field editor of the library tidy. Pure, any thread;
// a tag it can't walk without losing frames throws ConversionError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Platform/ByteStreams.hpp"

namespace tarvik::id3 {

struct Frame {
    std::string id;  // four characters
    Bytes raw;       // header and body
};

struct ParsedTag {
    bool present = false;  // false: the file starts with audio (major 3 then)
    int major = 3;
    std::uint8_t revision = 0;
    std::uint8_t flags = 0;  // 0x40: an extended header, 0x10: a footer
    Bytes extendedHeader;    // as it stands, its size included
    Bytes footer;            // as it stands, where the flags say there is one
    std::vector<Frame> frames;
    std::size_t audioStart = 0;  // after the tag, its padding and footer

    bool hasFooter() const { return (flags & 0x10) != 0; }
};

// Throws "ID3v2.N は扱えません" for versions other than 3 and 4, "非同期化された
// ID3 タグは扱えません", and "ID3 タグが壊れています" when a frame runs past the
// tag or the padding holds anything but zeros: UnnamedTagErrors, which the
// field editor gives on naming the file.
ParsedTag parseTag(const Bytes& data);

// How long the ID3v2 tag is that `header` (ten bytes or more) begins: its
// header, frames and padding, and its footer; nothing where `header` begins
// no tag.
std::optional<std::uint64_t> tagLength(const Bytes& header);
// Where the file's audio starts: after the ID3v2 tags in front of it, if
// any (a few writers put one before FLAC and WAV data too, and some put
// several). Reads ten bytes a tag; never past the file's end.
std::uint64_t afterTags(ByteSource& file);

// The file's first bytes up to the end of its ID3v2 tag (its footer
// included), without the audio; nothing when the file has no tag. Throws as
// parseTag for versions and flags, and "ID3 タグが大きすぎます" (unnamed) for a tag
// larger than headLimit: it is held in memory, several times over.
inline constexpr std::size_t headLimit = std::size_t{16} << 20;
Bytes readHead(ByteSource& file);

// The body of a frame, after its ten-byte header.
Bytes frameBody(const Frame& frame);

// Refuses a sound file whose rewritten tag would not fit the ten-byte
// header's syncsafe size (ID3Writer::tagSizeLimit): "タグが ID3 タグの上限
// （256 MiB）を超えるため、書き換えません: " + the file's name.
[[noreturn]] void refuseTooLarge(std::string_view fileName);

}  // namespace tarvik::id3
