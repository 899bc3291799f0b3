// Checking the atom tree of an MP4 (M4A) file before and after its tags are
// rewritten: every atom's size (32-bit or 64-bit) within its parent, the
// moov/udta/meta/ilst chain whole, every sample table's entry count within
// its atom, every chunk offset inside the media data. TagLib trusts what it
// reads and descends into more atoms than a tag needs (any "ilst", "stsd",
// fragments), so the walk goes everywhere TagLib goes and a damaged file
// never reaches it. Reads only the atom headers, the item list and the
// chunk-offset tables. Pure, any thread; failures throw ConversionError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Platform/ByteStreams.hpp"

namespace tarvik::mp4 {

// Real files hold a few dozen atoms a level and a few hundred in all: a
// walk that meets more is lost in a damaged or hostile file and stops.
inline constexpr std::size_t atomsPerLevel = 4096;
inline constexpr std::size_t atomsInAll = 65536;

// One child of the item list: its name ("\251nam", "trkn", or "----:" +
// mean + ":" + name for a freeform item) and its atom, raw.
struct Item {
    std::string key;
    Bytes raw;
};

struct Range {
    std::uint64_t offset;
    std::uint64_t length;
};

struct Layout {
    std::vector<Item> items;
    bool hasList = false;                     // the moov/udta/meta/ilst chain is there
    std::vector<Range> media;                 // the payload of each "mdat"
    std::vector<std::uint64_t> chunkOffsets;  // every "stco" and "co64" entry, in order
    Range movie{0, 0};                        // the "moov" atom, header included
    // Samples described outside "moov" ("moof" or "mfra" at the top, "mvex"
    // in "moov"): offsets TagLib does not move with the rest.
    bool fragmented = false;
};

// "タグが壊れています", as an UnnamedTagError (see TagFieldsError): what a
// walk that meets a damaged atom throws.
[[noreturn]] void damaged();

// The `width`-byte big-endian number at `at` (the caller checked the room).
std::uint64_t bigEndian(const Bytes& bytes, std::size_t at, int width);

// One atom, its header read at `start` in a parent that ends at `end`: its
// type, where its content starts and where it ends.
struct Atom {
    std::string type;
    std::uint64_t start;    // of the header
    std::uint64_t payload;  // after the header
    std::uint64_t end;
};

// The atom whose header is at `at`. A size of 1 is followed by a 64-bit
// one; a size of 0 runs to `end` where `zeroRunsToEnd`, else is too short.
// Every size is compared with the room left (`size > end - at`), so no sum
// wraps round and a walk that goes on at the atom's end moves forward.
// Nothing for a header cut short, an atom shorter than its header or one
// that runs past `end`.
std::optional<Atom> atomAt(ByteSource& file, std::uint64_t at, std::uint64_t end,
                           bool zeroRunsToEnd);

// The first atom of `type` among those from `begin` to `end` (a size of 0
// running to `end`), each one looked at taking one of `budget`: nothing
// once the budget runs out, at a damaged atom, or where there is none.
std::optional<Atom> findAtom(ByteSource& file, std::uint64_t begin, std::uint64_t end,
                             std::string_view type, std::size_t& budget);

// "M4A ではありません: " + fileName when the file does not start with "ftyp";
// "タグが壊れています" (unnamed, see damaged) when an atom runs past its
// parent, a sample table claims more entries than it holds, a chunk-offset
// table stands anywhere but in a track's sample table, the file has no or
// several "moov", and when atoms nest deeper or come in greater numbers
// than any real file's. A file whose atoms read whole is refused for what
// it is, naming it: "音声がありません: " (no "mdat"), "音声の位置が音声デー
// タの外を指しています: " (a chunk offset outside the media data), "音声が途中
// で切れています: " (the media data runs past the end of the file), free
// space among the items ("タグの項目の間に空き領域（free）がある M4A は扱えませ
// ん: "), and a QuickTime-style "meta" without version and flags
// ("QuickTime 形式の meta アトムを持つ M4A は扱えません: ").
Layout inspect(ByteSource& file, std::string_view fileName);

}  // namespace tarvik::mp4
