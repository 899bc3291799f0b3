#include "Core/Convert/CardTagsRead.hpp"

#include <algorithm>
#include <climits>
#include <string_view>

#include "Core/Convert/AudioKind.hpp"
#include "Core/Convert/CardTags.hpp"
#include "Core/Convert/MP4Atoms.hpp"
#include "Core/Platform/Errors.hpp"

namespace tarvik::cardtags {
namespace {

constexpr std::size_t readChunk = std::size_t{1} << 20;
// TagLib recurses once a level: real files nest six or seven deep.
constexpr int depthLimit = 16;
// Pages looked at for an Ogg stream's comment: far beyond real files.
constexpr std::size_t oggPages = 1024;

bool nameIs(const Bytes& bytes, std::uint64_t at, std::string_view name) {
    return bytes.size() >= at + 4 &&
           std::equal(name.begin(), name.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// The atoms TagLib descends into wherever it meets them.
bool isContainer(const Bytes& bytes, std::uint64_t nameAt) {
    for (std::string_view name :
         {"moov", "udta", "mdia", "meta", "ilst", "stbl", "minf", "moof", "traf", "trak", "stsd"}) {
        if (nameIs(bytes, nameAt, name)) return true;
    }
    return false;
}

// A walk of the movie's copy as TagLib 1.13 walks it: an atom is checked
// against the end of the copy (not its parent's), a container's children
// follow one another from its header on, and TagLib carries on from where
// the last child left it.
struct Walk {
    const Bytes& bytes;
    std::size_t atoms = 0;
    bool damaged = false;
};

struct Step {
    std::uint64_t next;  // where TagLib reads on
    bool valid;          // TagLib took the atom (a length other than 0)
};

std::optional<Step> atomAsTagLib(Walk& walk, std::uint64_t at, int depth) {
    const Bytes& bytes = walk.bytes;
    const std::uint64_t end = bytes.size();
    if (++walk.atoms > mp4::atomsInAll) return std::nullopt;
    const auto invalid = [&] {
        walk.damaged = true;
        return Step{end, false};
    };
    if (at > end || end - at < 8) return invalid();
    std::uint64_t length = mp4::bigEndian(bytes, at, 4);
    std::uint64_t children = at + 8;
    if (length == 0) {
        length = end - at;
    } else if (length == 1) {
        if (end - at < 16) return invalid();
        length = mp4::bigEndian(bytes, at + 8, 8);
        children = at + 16;
        if (length > static_cast<std::uint64_t>(LONG_MAX)) return invalid();
    }
    if (length < 8 || length > end - at) return invalid();
    if (!isContainer(bytes, at + 4)) return Step{at + length, true};
    if (depth >= depthLimit) return std::nullopt;

    const auto walkFrom = [&](std::uint64_t from) -> std::optional<std::uint64_t> {
        std::uint64_t position = from;
        while (position < at + length) {
            const std::optional<Step> child = atomAsTagLib(walk, position, depth + 1);
            if (!child) return std::nullopt;
            position = child->next;
            if (!child->valid) break;
        }
        return position;
    };
    if (nameIs(bytes, at + 4, "meta")) {
        // A full atom's version and flags come first, unless a child's name
        // follows at once (QuickTime's form); both readings are kept within
        // bounds, and TagLib carries on after the one it takes.
        bool quickTime = false;
        for (std::string_view name : {"hdlr", "ilst", "mhdr", "ctry", "lang"}) {
            quickTime = quickTime || nameIs(bytes, children + 4, name);
        }
        const bool damaged = walk.damaged;
        if (!walkFrom(quickTime ? children + 4 : children)) return std::nullopt;
        walk.damaged = damaged;  // only the reading TagLib takes tells
        const std::optional<std::uint64_t> next = walkFrom(quickTime ? children : children + 4);
        if (!next) return std::nullopt;
        return Step{*next, true};
    }
    if (nameIs(bytes, at + 4, "stsd")) children += 8;
    const std::optional<std::uint64_t> next = walkFrom(children);
    if (!next) return std::nullopt;
    return Step{*next, true};
}

}  // namespace

Bytes BoundedReader::read(std::uint64_t offset, std::size_t length) {
    if (stop_.stop_requested()) throw Cancelled();
    return file_.read(offset, length);
}

Bytes BoundedReader::take(std::uint64_t offset, std::size_t length) {
    Bytes bytes;
    while (length > 0) {
        const Bytes chunk = read(offset, std::min(length, readChunk));
        bytes.insert(bytes.end(), chunk.begin(), chunk.end());
        if (chunk.size() < std::min(length, readChunk)) break;
        offset += chunk.size();
        length -= chunk.size();
    }
    return bytes;
}

std::optional<Movie> movieOf(BoundedReader& file) {
    const AudioKind::Atoms top = AudioKind::topLevel(file);
    if (top.whole.empty() || top.whole.front().type != "ftyp") return std::nullopt;
    const mp4::Atom& type = top.whole.front();
    const auto whole = std::ranges::find(top.whole, "moov", &mp4::Atom::type);
    const bool cut = whole == top.whole.end();
    if (cut && (!top.cut || top.cut->type != "moov")) return std::nullopt;
    const mp4::Atom& movie = cut ? *top.cut : *whole;
    Movie found;
    const std::uint64_t movieEnd = std::min(movie.end, file.size());
    if (type.end - type.start > 4096 || movieEnd - movie.start > CardTags::tagLimit) {
        found.readable = false;
        return found;
    }
    found.bytes = file.take(type.start, static_cast<std::size_t>(type.end - type.start));
    const std::size_t movieAt = found.bytes.size();
    const Bytes moov = file.take(movie.start, static_cast<std::size_t>(movieEnd - movie.start));
    found.bytes.insert(found.bytes.end(), moov.begin(), moov.end());
    if (cut) {
        // The copy's movie ends where the file did, so that its items before
        // the cut are read as a whole movie's would be.
        const std::uint64_t length = found.bytes.size() - movieAt;
        const bool wide = movie.payload - movie.start == 16;
        for (std::size_t byte = 0; byte < (wide ? 8U : 4U); ++byte) {
            found.bytes[movieAt + (wide ? 8 : 0) + byte] =
                static_cast<std::uint8_t>(length >> (8 * ((wide ? 7 : 3) - byte)));
        }
        found.damaged = true;
    }
    Walk walk{found.bytes};
    for (std::uint64_t at = 0; at < found.bytes.size();) {
        const std::optional<Step> step = atomAsTagLib(walk, at, 0);
        if (!step) {
            found.readable = false;
            return found;
        }
        if (!step->valid) break;
        at = step->next;
    }
    found.damaged = found.damaged || walk.damaged;
    return found;
}

std::optional<Bytes> asfHeaderOf(BoundedReader& file, std::uint64_t at) {
    const Bytes head = file.take(at, 30);
    if (head.size() < 30) return std::nullopt;
    const std::uint64_t size = numberAt(head, 16, 8, ByteOrder::little);
    if (size < 30 || size > CardTags::tagLimit) return std::nullopt;
    return file.take(at, static_cast<std::size_t>(size));
}

std::optional<Bytes> flacBlocksOf(BoundedReader& file, std::uint64_t at) {
    const std::uint64_t end = std::min(AudioKind::flacBlocks(file, at).end, file.size());
    if (end - at > CardTags::tagLimit) return std::nullopt;
    return file.take(at, static_cast<std::size_t>(end - at));
}

std::optional<Bytes> oggHeadOf(BoundedReader& file, std::uint64_t at) {
    std::uint64_t end = at;
    std::optional<std::uint64_t> stream;  // the first page's serial number
    int packets = 0;                      // of that stream, ended so far
    for (std::size_t pages = 0; pages < oggPages && packets < 2; ++pages) {
        // "OggS", version, flags, position, serial number, page number,
        // checksum, then the number of segments and their lengths.
        const Bytes header = file.read(end, 27);
        if (header.size() < 27 || !nameIs(header, 0, "OggS")) break;
        const Bytes lengths = file.read(end + 27, header[26]);
        if (lengths.size() < header[26]) break;
        const std::uint64_t serial = numberAt(header, 14, 4, ByteOrder::little);
        if (!stream) stream = serial;
        end += 27 + lengths.size();
        for (const std::uint8_t length : lengths) {
            end += length;
            // A packet ends with a segment shorter than 255 bytes.
            if (length < 255 && serial == *stream) ++packets;
        }
        if (end - at > CardTags::tagLimit) return std::nullopt;
    }
    return file.take(at, static_cast<std::size_t>(std::min(end, file.size()) - at));
}

Chunks chunksOf(BoundedReader& file, std::uint64_t at, ByteOrder order) {
    Chunks chunks;
    AudioKind::eachChunk(
        file, at, order, [&](const Bytes& header, std::uint64_t& size, std::uint64_t body) {
            const bool id3 = nameIs(header, 0, "id3 ") || nameIs(header, 0, "ID3 ");
            const bool list = nameIs(header, 0, "LIST") && order == ByteOrder::little &&
                              nameIs(file.read(body, 4), 0, "INFO");
            if (!id3 && !list) return true;
            if (size > CardTags::tagLimit) {
                chunks.tooLarge = true;
                return true;
            }
            Bytes bytes = file.take(body, static_cast<std::size_t>(size));
            if (id3 && !chunks.id3) chunks.id3 = std::move(bytes);
            if (list && !chunks.info && bytes.size() >= 4) {
                chunks.info = Bytes(bytes.begin() + 4, bytes.end());
            }
            return true;
        });
    return chunks;
}

}  // namespace tarvik::cardtags
