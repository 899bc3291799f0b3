#include "Core/Convert/MP4Atoms.hpp"

#include <algorithm>
#include <array>

#include "Core/Platform/Errors.hpp"

namespace tarvik::mp4 {
namespace {

// The item list and the chunk tables are read whole; far beyond real files.
constexpr std::uint64_t readLimit = std::uint64_t{48} << 20;
// Real files nest five levels deep and hold a few dozen atoms a level: a
// hostile one must not exhaust the stack or memory before it is refused.
constexpr int depthLimit = 16;
constexpr std::size_t atomsPerLevel = 4096;
constexpr std::size_t atomsInAll = 65536;

[[noreturn]] void damaged() {
    throw ConversionError("タグが壊れています");
}

std::uint64_t bigEndian(const Bytes& bytes, std::size_t at, int width) {
    std::uint64_t value = 0;
    for (int i = 0; i < width; ++i) value = (value << 8) | bytes[at + static_cast<std::size_t>(i)];
    return value;
}

struct Atom {
    std::string type;
    std::uint64_t start;    // of the header
    std::uint64_t payload;  // after the header
    std::uint64_t end;
};

// The file being read and the atoms it has shown so far.
struct Reader {
    ByteSource& file;
    std::size_t atoms = 0;
};

// The atoms between `start` and `end`. Only a top-level atom may have the
// size 0 ("to the end of the file").
std::vector<Atom> children(Reader& reader, std::uint64_t start, std::uint64_t end,
                           bool topLevel) {
    ByteSource& file = reader.file;
    std::vector<Atom> atoms;
    for (std::uint64_t at = start; at < end;) {
        if (end - at < 8 || atoms.size() >= atomsPerLevel || ++reader.atoms > atomsInAll) {
            damaged();
        }
        const Bytes header = file.read(at, 16);
        std::uint64_t size = bigEndian(header, 0, 4);
        std::uint64_t headerSize = 8;
        if (size == 1) {
            if (end - at < 16) damaged();
            size = bigEndian(header, 8, 8);
            headerSize = 16;
        } else if (size == 0 && topLevel) {
            size = end - at;
        }
        if (size < headerSize || size > end - at) damaged();
        atoms.push_back(
            {std::string(header.begin() + 4, header.begin() + 8), at, at + headerSize, at + size});
        at += size;
    }
    return atoms;
}

Bytes payloadOf(ByteSource& file, const Atom& atom) {
    if (atom.end - atom.payload > readLimit) damaged();
    return file.read(atom.payload, static_cast<std::size_t>(atom.end - atom.payload));
}

// "mean" and "name" hold 4 bytes of version and flags, then the text.
std::string freeformText(ByteSource& file, const Atom& atom) {
    const Bytes payload = payloadOf(file, atom);
    if (payload.size() < 4) damaged();
    return std::string(payload.begin() + 4, payload.end());
}

void readItems(Reader& reader, const Atom& list, Layout& layout) {
    ByteSource& file = reader.file;
    if (list.end - list.payload > readLimit) throw ConversionError("タグが大きすぎます");
    for (const Atom& item : children(reader, list.payload, list.end, false)) {
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
    if (payload.size() < 8) damaged();
    const std::uint64_t count = bigEndian(payload, 4, 4);
    if (count > (payload.size() - 8) / static_cast<std::uint64_t>(width)) damaged();
    for (std::uint64_t i = 0; i < count; ++i) {
        layout.chunkOffsets.push_back(bigEndian(
            payload, 8 + static_cast<std::size_t>(i) * static_cast<std::size_t>(width), width));
    }
}

bool isContainer(const std::string& type) {
    static constexpr std::array<std::string_view, 7> containers = {"moov", "trak", "mdia", "minf",
                                                                   "stbl", "udta", "edts"};
    return std::find(containers.begin(), containers.end(), type) != containers.end();
}

void walk(Reader& reader, const Atom& parent, Layout& layout, int& lists, int depth) {
    if (depth > depthLimit) damaged();
    for (const Atom& atom : children(reader, parent.payload, parent.end, false)) {
        if (isContainer(atom.type)) {
            walk(reader, atom, layout, lists, depth + 1);
        } else if (atom.type == "meta") {
            // A full atom: version and flags come before its children.
            if (atom.end - atom.payload < 4) damaged();
            walk(reader, Atom{atom.type, atom.start, atom.payload + 4, atom.end}, layout, lists,
                 depth + 1);
        } else if (atom.type == "ilst" && parent.type == "meta") {
            if (++lists > 1) damaged();
            readItems(reader, atom, layout);
        } else if (atom.type == "stco" || atom.type == "co64") {
            readChunkOffsets(reader.file, atom, layout);
        }
    }
}

}  // namespace

Layout inspect(ByteSource& file, std::string_view fileName) {
    const Bytes head = file.read(4, 4);
    if (head != Bytes{'f', 't', 'y', 'p'}) {
        throw ConversionError("M4A ではありません: " + std::string(fileName));
    }
    Layout layout;
    Reader reader{file};
    int movies = 0;
    int lists = 0;
    for (const Atom& atom : children(reader, 0, file.size(), true)) {
        if (atom.type == "moov") {
            ++movies;
            walk(reader, atom, layout, lists, 1);
        } else if (atom.type == "mdat") {
            layout.media.push_back({atom.payload, atom.end - atom.payload});
        }
    }
    if (movies != 1 || layout.media.empty()) damaged();
    for (std::uint64_t offset : layout.chunkOffsets) {
        if (std::none_of(layout.media.begin(), layout.media.end(), [&](const Range& media) {
                return offset >= media.offset && offset - media.offset < media.length;
            })) {
            damaged();
        }
    }
    return layout;
}

}  // namespace tarvik::mp4
