// Rewriting the Vorbis comments of a FLAC file: the comments for the eight
// track fields are replaced, every other comment, the vendor string, every
// other metadata block and the audio frames are kept byte for byte. Only the
// comment blocks are read into memory; every other block and the audio are
// copied from the source in chunks, so memory stays bounded whatever the file
// size. Stateless, callable from any thread; a file that isn't FLAC or whose
// metadata can't be walked throws ConversionError after its head is read.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "Core/Naming/TrackMeta.hpp"
#include "Core/Platform/ByteStreams.hpp"

namespace tarvik::FLACComments {

inline constexpr std::uint8_t vorbisCommentType = 4;

// A comment block is read into `body`; every other block stays in the
// source, at `stored`.
struct Block {
    struct Stored {
        std::uint64_t offset;
        std::uint32_t length;
    };
    std::uint8_t type;
    Bytes body;
    std::optional<Stored> stored;
};

// The metadata blocks in file order and where the audio frames begin.
struct Layout {
    std::vector<Block> blocks;
    std::uint64_t audioStart = 0;
};

// Throws "FLAC ではありません: " + fileName, "先頭に ID3 タグが付いた FLAC は
// 扱えません: " + fileName for a FLAC file behind an ID3v2 tag, "FLAC のメタ
// データが大きすぎます: " + fileName for comments beyond what is held in
// memory, or "FLAC のメタデータが壊れています" (an UnnamedTagError, see
// TagFieldsError) when the chain can't be walked or doesn't end at a frame
// sync. Reads the metadata blocks' headers and
// the comment blocks only.
Layout parse(ByteSource& file, std::string_view fileName);

// "fLaC", the blocks (the last one flagged), then the file's audio from
// `audioStart` on. Throws, naming `fileName`, when a block has grown too
// long for its length field.
void join(const std::vector<Block>& blocks, ByteSource& file, std::uint64_t audioStart,
          std::string_view fileName, ByteSink& out);

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

// The comment's key, ASCII letters in upper case (the format compares keys
// in ASCII case only); a key with a byte outside 0x20–0x7D as it is.
std::string keyOf(const Bytes& comment);

// The whole new file. The comment block goes second, right after the stream
// information; `fileName` only names the file in the message for non-FLAC data.
void rewrite(ByteSource& file, const TrackMeta& meta, std::string_view fileName, ByteSink& out);
Bytes rewrite(const Bytes& file, const TrackMeta& meta, std::string_view fileName);

}  // namespace tarvik::FLACComments
