#include "Core/Convert/MP4Atoms.hpp"

#include <algorithm>
#include <array>
#include <optional>

#include "Core/Convert/TagFieldsError.hpp"
#include "Core/Platform/Errors.hpp"

namespace tarvik::mp4 {
namespace {

// The item list and the chunk tables are read whole; far beyond real files.
constexpr std::uint64_t readLimit = std::uint64_t{48} << 20;
// Real files nest five levels deep: a hostile one must not exhaust the
// stack before it is refused.
constexpr int depthLimit = 16;

// The atoms TagLib descends into wherever it meets them, and how many bytes
// it passes over before their children; "edts" is walked in addition.
std::optional<std::uint64_t> containerSkip(std::string_view type) {
    static constexpr std::array<std::pair<std::string_view, std::uint64_t>, 12> containers = {{
        {"moov", 0},
        {"udta", 0},
        {"mdia", 0},
        {"meta", 4},
        {"ilst", 0},
        {"stbl", 0},
        {"minf", 0},
        {"moof", 0},
        {"traf", 0},
        {"trak", 0},
        {"stsd", 8},
        {"edts", 0},
    }};
    for (const auto& [name, skip] : containers) {
        if (name == type) return skip;
    }
    return std::nullopt;
}

// A sample table: where its entry count stands and its entries start (after
// version and flags), and the size of one entry (the least one for "stsd").
struct Table {
    std::string_view type;
    std::uint64_t countAt;
    std::uint64_t entriesAt;
    std::uint64_t entrySize;
};
constexpr std::array<Table, 9> tables = {{
    {"stts", 4, 8, 8},
    {"ctts", 4, 8, 8},
    {"stsc", 4, 8, 12},
    {"stss", 4, 8, 4},
    {"stps", 4, 8, 4},
    {"stco", 4, 8, 4},
    {"co64", 4, 8, 8},
    {"stsd", 4, 8, 8},
    {"stsz", 8, 12, 4},  // entries only when the common sample size is 0
}};

// The file being read and what it has shown so far.
struct Reader {
    ByteSource& file;
    std::size_t atoms = 0;
    int lists = 0;
};

// Whether the atom at `at` is media data that runs past the end of the
// file: a file cut short (a copy that stopped, a full disk) in its audio.
bool mediaCutShort(ByteSource& file, std::uint64_t at, std::uint64_t end) {
    const Bytes header = file.read(at, 16);
    if (header.size() < 8 || std::string(header.begin() + 4, header.begin() + 8) != "mdat") {
        return false;
    }
    const std::uint64_t size = bigEndian(header, 0, 4);
    if (size == 1) return header.size() == 16 && bigEndian(header, 8, 8) > end - at;
    return size > end - at;
}

// The atoms between `start` and `end`. Only a top-level atom may have the
// size 0 ("to the end of the file"); there the walk ends at media data cut
// short, and says so in `cutShort`.
std::vector<Atom> children(Reader& reader, std::uint64_t start, std::uint64_t end, bool topLevel,
                           bool* cutShort = nullptr) {
    ByteSource& file = reader.file;
    std::vector<Atom> atoms;
    for (std::uint64_t at = start; at < end;) {
        if (atoms.size() >= atomsPerLevel || ++reader.atoms > atomsInAll) damaged();
        std::optional<Atom> atom = atomAt(file, at, end, topLevel);
        if (!atom && cutShort != nullptr && mediaCutShort(file, at, end)) {
            *cutShort = true;
            break;
        }
        if (!atom) damaged();
        at = atom->end;
        atoms.push_back(std::move(*atom));
    }
    return atoms;
}

Bytes payloadOf(ByteSource& file, const Atom& atom) {
    if (atom.end - atom.payload > readLimit) damaged();
    return file.read(atom.payload, static_cast<std::size_t>(atom.end - atom.payload));
}

// A table whose count claims more entries than its atom holds would have
// TagLib (and decoders) read and write far past it.
void checkTable(ByteSource& file, const Atom& atom, const Table& table) {
    const std::uint64_t length = atom.end - atom.payload;
    if (length < table.entriesAt) damaged();
    const Bytes head = file.read(atom.payload, static_cast<std::size_t>(table.entriesAt));
    if (head.size() < table.entriesAt) damaged();
    const std::uint64_t count = bigEndian(head, static_cast<std::size_t>(table.countAt), 4);
    if (table.type == "stsz" && bigEndian(head, 4, 4) != 0) return;
    if (count > (length - table.entriesAt) / table.entrySize) damaged();
}

// The compact sample sizes: 4, 8 or 16 bits an entry.
void checkCompactSizes(ByteSource& file, const Atom& atom) {
    const std::uint64_t length = atom.end - atom.payload;
    if (length < 12) damaged();
    const Bytes head = file.read(atom.payload, 12);
    if (head.size() < 12) damaged();
    const std::uint64_t bits = head[7];
    if (bits != 4 && bits != 8 && bits != 16) damaged();
    if ((bigEndian(head, 8, 4) * bits + 7) / 8 > length - 12) damaged();
}

// "mean" and "name" hold 4 bytes of version and flags, then the text.
std::string freeformText(ByteSource& file, const Atom& atom) {
    const Bytes payload = payloadOf(file, atom);
    if (payload.size() < 4) damaged();
    return std::string(payload.begin() + 4, payload.end());
}

void readItems(Reader& reader, const Atom& list, Layout& layout, std::string_view fileName) {
    ByteSource& file = reader.file;
    if (list.end - list.payload > readLimit) throw UnnamedTagError("タグが大きすぎます");
    for (const Atom& item : children(reader, list.payload, list.end, false)) {
        // Free space among the items is allowed, but what TagLib makes of
        // its bytes (any bytes) is not known, and it would not write it back.
        if (item.type == "free" || item.type == "skip") {
            throw ConversionError("タグの項目の間に空き領域（" + item.type +
                                  "）がある M4A は扱えません: " + std::string(fileName));
        }
        // TagLib would take such an item for a container and read its parts as atoms.
        if (containerSkip(item.type)) damaged();
        const std::vector<Atom> parts = children(reader, item.payload, item.end, false);
        if (parts.empty()) damaged();
        std::string key = item.type;
        if (item.type == "----") {
            std::string mean, name;
            for (const Atom& part : parts) {
                if (part.type == "mean") mean = freeformText(file, part);
                if (part.type == "name") name = freeformText(file, part);
            }
            key += ":" + mean + ":" + name;
        }
        for (const Atom& part : parts) {
            if (part.type == "data" && part.end - part.payload < 8) damaged();
        }
        layout.items.push_back(
            {std::move(key), payloadOf(file, Atom{item.type, item.start, item.start, item.end})});
    }
}

void readChunkOffsets(ByteSource& file, const Atom& table, Layout& layout) {
    const Bytes payload = payloadOf(file, table);
    const int width = table.type == "co64" ? 8 : 4;
    const std::uint64_t count = bigEndian(payload, 4, 4);  // checked against the size before
    for (std::uint64_t i = 0; i < count; ++i) {
        layout.chunkOffsets.push_back(bigEndian(
            payload, 8 + static_cast<std::size_t>(i) * static_cast<std::size_t>(width), width));
    }
}

// `path` names the atom's ancestors from the top ("/moov/udta/meta"): only
// that chain's "ilst" is the tag TagLib reads and writes.
void walk(Reader& reader, const Atom& parent, std::uint64_t skip, const std::string& path,
          Layout& layout, int depth, std::string_view fileName) {
    if (depth > depthLimit || parent.end - parent.payload < skip) damaged();
    for (const Atom& atom : children(reader, parent.payload + skip, parent.end, false)) {
        const std::string here = path + "/" + atom.type;
        if (here == "/moov/udta/meta/ilst") {
            if (++reader.lists > 1) damaged();
            layout.hasList = true;
            readItems(reader, atom, layout, fileName);
            continue;
        }
        // QuickTime's own "meta" has no version and flags: its first child
        // starts at once, and read the other way its atoms would be garbage.
        if (atom.type == "meta" && atom.end - atom.payload >= 8 &&
            reader.file.read(atom.payload + 4, 4) == Bytes{'h', 'd', 'l', 'r'}) {
            throw ConversionError("QuickTime 形式の meta アトムを持つ M4A は扱えません: " +
                                  std::string(fileName));
        }
        if (here == "/moov/mvex") layout.fragmented = true;
        for (const Table& table : tables) {
            if (table.type == atom.type) checkTable(reader.file, atom, table);
        }
        if (atom.type == "stz2") checkCompactSizes(reader.file, atom);
        if (atom.type == "stco" || atom.type == "co64") {
            // Anywhere else TagLib still moves its offsets, and where it meets
            // one first in the atom it inserts a new tag into, it writes them
            // over the new tag instead.
            if (path != "/moov/trak/mdia/minf/stbl") damaged();
            readChunkOffsets(reader.file, atom, layout);
        }
        if (const std::optional<std::uint64_t> inner = containerSkip(atom.type)) {
            walk(reader, atom, *inner, here, layout, depth + 1, fileName);
        }
    }
}

}  // namespace

void damaged() {
    throw UnnamedTagError("タグが壊れています");
}

std::uint64_t bigEndian(const Bytes& bytes, std::size_t at, int width) {
    return numberAt(bytes, at, static_cast<std::size_t>(width), ByteOrder::big);
}

std::optional<Atom> atomAt(ByteSource& file, std::uint64_t at, std::uint64_t end,
                           bool zeroRunsToEnd) {
    if (at > end || end - at < 8) return std::nullopt;
    const Bytes header = file.read(at, 16);
    if (header.size() < 8) return std::nullopt;
    std::uint64_t size = bigEndian(header, 0, 4);
    std::uint64_t headerSize = 8;
    if (size == 1) {
        if (header.size() < 16) return std::nullopt;
        size = bigEndian(header, 8, 8);
        headerSize = 16;
    } else if (size == 0 && zeroRunsToEnd) {
        size = end - at;
    }
    if (size < headerSize || size > end - at) return std::nullopt;
    return Atom{std::string(header.begin() + 4, header.begin() + 8), at, at + headerSize,
                at + size};
}

std::optional<Atom> findAtom(ByteSource& file, std::uint64_t begin, std::uint64_t end,
                             std::string_view type, std::size_t& budget) {
    for (std::uint64_t at = begin; at < end;) {
        if (budget == 0) return std::nullopt;
        --budget;
        std::optional<Atom> atom = atomAt(file, at, end, true);
        if (!atom || atom->type == type) return atom;
        at = atom->end;
    }
    return std::nullopt;
}

Layout inspect(ByteSource& file, std::string_view fileName) {
    const Bytes head = file.read(4, 4);
    if (head != Bytes{'f', 't', 'y', 'p'}) {
        throw ConversionError("M4A ではありません: " + std::string(fileName));
    }
    Layout layout;
    Reader reader{file};
    int movies = 0;
    bool cutShort = false;
    for (const Atom& atom : children(reader, 0, file.size(), true, &cutShort)) {
        if (atom.type == "mdat") {
            layout.media.push_back({atom.payload, atom.end - atom.payload});
            continue;
        }
        if (atom.type == "moov") {
            ++movies;
            layout.movie = {atom.start, atom.end - atom.start};
        }
        if (atom.type == "moof" || atom.type == "mfra") layout.fragmented = true;
        if (const std::optional<std::uint64_t> skip = containerSkip(atom.type)) {
            walk(reader, atom, *skip, "/" + atom.type, layout, 1, fileName);
        }
    }
    // The item list read whole, but the audio it describes is not all
    // there: no rewrite could keep what is missing.
    if (cutShort && movies == 1) {
        throw ConversionError("音声が途中で切れています: " + std::string(fileName));
    }
    if (movies != 1) damaged();
    // Tags that read whole, refused for what they describe.
    if (layout.media.empty()) throw ConversionError("音声がありません: " + std::string(fileName));
    for (std::uint64_t offset : layout.chunkOffsets) {
        if (std::none_of(layout.media.begin(), layout.media.end(), [&](const Range& media) {
                return offset >= media.offset && offset - media.offset < media.length;
            })) {
            throw ConversionError("音声の位置が音声データの外を指しています: " +
                                  std::string(fileName));
        }
    }
    return layout;
}

}  // namespace tarvik::mp4
