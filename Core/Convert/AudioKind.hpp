// What kind of audio a file holds, told by its bytes (never its name), and
// where those bytes start: behind the ID3 tags that some writers put in
// front of any kind. Also the outermost structure of the kinds that have
// one (the chunks of WAV, RF64 and AIFF, FLAC's metadata blocks, an MP4's
// top-level atoms), each read as far as the file holds it, so that a file
// cut short is told. Shared by the length reader and the card tag reader,
// which must agree on what a file is. Pure, any thread; reads only headers,
// every walk bounded, and passes on what the source throws.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "Core/Convert/MP4Atoms.hpp"
#include "Core/Platform/ByteStreams.hpp"

namespace tarvik::AudioKind {

// `mpeg` is everything else: MPEG or ADTS frames, or bytes of no kind known.
enum class Kind { mpeg, mp4, asf, flac, ogg, wave, rf64, aiff };

struct Start {
    Kind kind = Kind::mpeg;
    std::uint64_t at = 0;  // where the kind's own bytes start
    // The ID3 tag in front says it is longer than the file: the file ended
    // inside it, before any audio.
    bool tagCut = false;
};

Start of(ByteSource& file);

// Chunks looked at before a file counts as having no more: real files hold
// a handful.
inline constexpr int chunkLimit = 1024;

// The chunks of an IFF file from `at` (after the 12-byte form header), each
// an id and a size in `order`, padded to an even length. `found` is given
// each chunk's 8-byte header, its size as told (which it may change, say
// for a 64-bit size told elsewhere) and where its body starts, and says
// whether to go on. The walk ends where a chunk runs past the file.
template <typename Found>
void eachChunk(ByteSource& file, std::uint64_t at, ByteOrder order, Found found) {
    const std::uint64_t end = file.size();
    for (int chunks = 0; chunks < chunkLimit && at <= end && end - at >= 8; ++chunks) {
        const Bytes header = file.read(at, 8);
        if (header.size() < 8) break;
        const std::uint64_t body = at + 8;
        std::uint64_t size = numberAt(header, 4, 4, order);
        if (!found(header, size, body)) break;
        if (size > end - body) break;
        at = body + size;
        if (size % 2 != 0 && at < end) ++at;
    }
}

// FLAC's metadata blocks after "fLaC" at `at`: where they end as their
// headers tell, and whether the last of them runs past the file.
struct Blocks {
    std::uint64_t end = 0;
    bool cut = false;
};
Blocks flacBlocks(ByteSource& file, std::uint64_t at);

// The top-level atoms of an MP4 file that lie whole within it, in order, and
// the one after them that runs past the file's end (a file cut short), if
// any; the walk ends there, at bytes that are no atom, or after
// `topLevelAtoms`.
inline constexpr std::size_t topLevelAtoms = 1024;
struct Atoms {
    std::vector<mp4::Atom> whole;
    std::optional<mp4::Atom> cut;  // its end as its header tells it
};
Atoms topLevel(ByteSource& file);

}  // namespace tarvik::AudioKind
