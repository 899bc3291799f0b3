#include "Core/Convert/AudioKind.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "Core/Convert/ID3Tag.hpp"

namespace tarvik::AudioKind {
namespace {

// The ASF header object's GUID, as it stands in the file.
constexpr std::array<std::uint8_t, 16> asfHeader = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

bool is(const Bytes& bytes, std::size_t at, std::string_view text) {
    return bytes.size() >= at + text.size() &&
           std::equal(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

Kind kindOf(const Bytes& magic, bool atStart) {
    if (atStart && is(magic, 4, "ftyp")) return Kind::mp4;
    if (magic.size() >= 16 && std::equal(asfHeader.begin(), asfHeader.end(), magic.begin())) {
        return Kind::asf;
    }
    if (is(magic, 0, "fLaC")) return Kind::flac;
    if (is(magic, 0, "OggS")) return Kind::ogg;
    if (is(magic, 8, "WAVE")) {
        if (is(magic, 0, "RIFF")) return Kind::wave;
        if (is(magic, 0, "RF64")) return Kind::rf64;
    }
    if (is(magic, 0, "FORM") && (is(magic, 8, "AIFF") || is(magic, 8, "AIFC"))) return Kind::aiff;
    return Kind::mpeg;
}

// A header at `at` whose atom runs past `end`: its size read as atomAt
// reads it, and nothing where it is no atom's.
std::optional<mp4::Atom> cutAtom(ByteSource& file, std::uint64_t at, std::uint64_t end) {
    const Bytes header = file.read(at, 16);
    if (header.size() < 8) return std::nullopt;
    std::uint64_t size = numberAt(header, 0, 4, ByteOrder::big);
    std::uint64_t headerSize = 8;
    if (size == 1) {
        if (header.size() < 16) return std::nullopt;
        size = numberAt(header, 8, 8, ByteOrder::big);
        headerSize = 16;
    }
    if (size < headerSize || size <= end - at) return std::nullopt;
    return mp4::Atom{std::string(header.begin() + 4, header.begin() + 8), at, at + headerSize,
                     at + size};
}

}  // namespace

Start of(ByteSource& file) {
    Start start;
    start.at = id3::afterTags(file);
    // afterTags stops in front of a tag that runs past the end.
    const std::optional<std::uint64_t> cut = id3::tagLength(file.read(start.at, 10));
    start.tagCut = cut && *cut > file.size() - std::min(file.size(), start.at);
    start.kind = kindOf(file.read(start.at, 16), start.at == 0);
    return start;
}

Blocks flacBlocks(ByteSource& file, std::uint64_t at) {
    const std::uint64_t size = file.size();
    Blocks blocks{at + 4, false};
    // Real streams hold a handful of blocks; 1024 is far beyond them.
    for (int count = 0; count < 1024; ++count) {
        const Bytes header = file.read(blocks.end, 4);
        if (header.size() < 4) {
            blocks.cut = true;  // the last block is still to come
            break;
        }
        const std::uint64_t length = numberAt(header, 1, 3, ByteOrder::big);
        blocks.end += 4;
        if (length > size - blocks.end) {
            blocks.cut = true;
            blocks.end += length;
            break;
        }
        blocks.end += length;
        if ((header[0] & 0x80) != 0) break;  // the last block
    }
    return blocks;
}

Atoms topLevel(ByteSource& file) {
    Atoms atoms;
    const std::uint64_t end = file.size();
    for (std::uint64_t at = 0; at < end && atoms.whole.size() < topLevelAtoms;) {
        std::optional<mp4::Atom> atom = mp4::atomAt(file, at, end, true);
        if (!atom) {
            atoms.cut = cutAtom(file, at, end);
            break;
        }
        at = atom->end;
        atoms.whole.push_back(std::move(*atom));
    }
    return atoms;
}

}  // namespace tarvik::AudioKind
