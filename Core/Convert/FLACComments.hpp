// Rewriting the Vorbis comments of a FLAC file held in memory: the comments
// for the eight track fields are replaced, every other comment, the vendor
// string, every other metadata block and the audio frames are kept byte for
// byte. Pure and stateless, callable from any thread; a file that isn't FLAC
// or whose metadata can't be walked throws ConversionError.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "Core/Naming/TrackMeta.hpp"
#include "Core/Platform/Bytes.hpp"

namespace tarvik::FLACComments {

inline constexpr std::uint8_t vorbisCommentType = 4;

struct Block {
    std::uint8_t type;
    Bytes body;
};

// The metadata blocks in file order and where the audio frames begin.
struct Layout {
    std::vector<Block> blocks;
    std::size_t audioStart = 0;
};

// Throws "FLAC ではありません: " + fileName, or "FLAC のメタデータが壊れています"
// when the chain can't be walked or doesn't end at a frame sync.
Layout parse(const Bytes& file, std::string_view fileName);

// "fLaC", the blocks (the last one flagged), then the file's audio from
// `audioStart` on. Throws when a block is too long for its length field.
Bytes join(const std::vector<Block>& blocks, const Bytes& file, std::size_t audioStart);

// A comment block's vendor string and its "KEY=value" comments, raw, in order.
// Built from a string rather than a braced list: GCC 12 at -O2 takes the
// list's hidden array for uninitialised and the optimised build fails.
inline constexpr std::string_view ourVendor = "Tarvik";

struct Comments {
    Bytes vendor{ourVendor.begin(), ourVendor.end()};
    std::vector<Bytes> comments;
};
// As far as a damaged block can be read.
Comments readComments(const Bytes& body);
Bytes commentBody(const Comments& comments);

// The comment's key in upper case, locale-independent, as the format asks.
std::string keyOf(const Bytes& comment);

// The whole new file. The comment block goes second, right after the stream
// information; `fileName` only names the file in the message for non-FLAC data.
Bytes rewrite(const Bytes& file, const TrackMeta& meta, std::string_view fileName);

}  // namespace tarvik::FLACComments
