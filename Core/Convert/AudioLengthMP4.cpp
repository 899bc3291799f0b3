// An MP4 file's length is its audio track's own: the media header's
// duration as the edit list cuts it (the encoder's priming left out), never
// the movie header's, which a longer video track or a second track sets. A
// fragmented file keeps its samples outside the movie and has no length
// here. Whether the file is whole is told by its top-level atoms (a movie
// there, none running past the end) and the audio track's sample table:
// every chunk's samples must end within the file. Only the atoms on the way
// and the few tables needed are read.
#include <string_view>
#include <vector>

#include "Core/Convert/AudioKind.hpp"
#include "Core/Convert/AudioLengthParts.hpp"
#include "Core/Convert/MP4Atoms.hpp"

namespace tarvik::AudioLength::parts {
namespace {

// Atoms of one level looked at, and bytes of one table read: far beyond
// real files (an hour of AAC has a sample size table of 700 KB).
constexpr std::size_t atomsPerLevel = 1024;
constexpr std::uint64_t tableLimit = std::uint64_t{64} << 20;

using Atoms = std::vector<mp4::Atom>;

Atoms childrenOf(ByteSource& file, std::uint64_t begin, std::uint64_t end) {
    Atoms atoms;
    for (std::uint64_t at = begin; at < end && atoms.size() < atomsPerLevel;) {
        const std::optional<mp4::Atom> atom = mp4::atomAt(file, at, end, false);
        if (!atom) break;
        at = atom->end;
        atoms.push_back(*atom);
    }
    return atoms;
}

Atoms childrenOf(ByteSource& file, const mp4::Atom& atom) {
    return childrenOf(file, atom.payload, atom.end);
}

const mp4::Atom* named(const Atoms& atoms, std::string_view type) {
    for (const mp4::Atom& atom : atoms) {
        if (atom.type == type) return &atom;
    }
    return nullptr;
}

// The atom's content after its header; empty when it is beyond the limit.
Bytes payloadOf(ByteSource& file, const mp4::Atom* atom) {
    if (atom == nullptr || atom->end - atom->payload > tableLimit) return {};
    return file.read(atom->payload, static_cast<std::size_t>(atom->end - atom->payload));
}

// A full atom's entry count (after version and flags) and whether its
// entries of `size` bytes from `entriesAt` are all there.
std::optional<std::uint64_t> entries(const Bytes& table, std::size_t countAt, std::size_t entriesAt,
                                     std::uint64_t size) {
    if (table.size() < entriesAt) return std::nullopt;
    const std::uint64_t count = mp4::bigEndian(table, countAt, 4);
    if (count > (table.size() - entriesAt) / size) return std::nullopt;
    return count;
}

// Whether each chunk of the track's samples ends within the file; true where
// the tables can't tell.
bool samplesWithin(ByteSource& file, const Atoms& table) {
    const Bytes sizes = payloadOf(file, named(table, "stsz"));
    const Bytes runs = payloadOf(file, named(table, "stsc"));
    const bool wide = named(table, "co64") != nullptr;
    const Bytes offsets = payloadOf(file, named(table, wide ? "co64" : "stco"));
    if (sizes.size() < 12) return true;
    const std::uint64_t common = mp4::bigEndian(sizes, 4, 4);
    const std::optional<std::uint64_t> samples =
        common != 0 ? std::optional(mp4::bigEndian(sizes, 8, 4)) : entries(sizes, 8, 12, 4);
    const std::optional<std::uint64_t> runCount = entries(runs, 4, 8, 12);
    const std::optional<std::uint64_t> chunks = entries(offsets, 4, 8, wide ? 8 : 4);
    if (!samples || !runCount || !chunks) return true;
    const std::uint64_t fileSize = file.size();
    std::uint64_t sample = 0, run = 0;
    for (std::uint64_t chunk = 0; chunk < *chunks; ++chunk) {
        // The run a chunk belongs to: the last whose first chunk (from 1) is not after it.
        while (run + 1 < *runCount && mp4::bigEndian(runs, 8 + (run + 1) * 12, 4) <= chunk + 1)
            ++run;
        const bool inRun = *runCount > 0 && mp4::bigEndian(runs, 8 + run * 12, 4) <= chunk + 1;
        const std::uint64_t perChunk =
            std::min(inRun ? mp4::bigEndian(runs, 8 + run * 12 + 4, 4) : 0, *samples - sample);
        std::uint64_t bytes = 0;
        if (common != 0) {
            bytes = common * perChunk;
        } else {
            for (std::uint64_t at = sample; at < sample + perChunk; ++at) {
                bytes += mp4::bigEndian(sizes, 12 + at * 4, 4);
            }
        }
        sample += perChunk;
        const std::uint64_t offset =
            mp4::bigEndian(offsets, 8 + chunk * (wide ? 8 : 4), wide ? 8 : 4);
        if (offset > fileSize || bytes > fileSize - offset) return false;
    }
    return true;
}

// The track's length in seconds, from its media header ("mdhd") and edit
// list ("elst", in the movie's time scale).
std::optional<double> trackSeconds(ByteSource& file, const Atoms& media, const Atoms& edits,
                                   std::uint64_t movieScale) {
    const Bytes header = payloadOf(file, named(media, "mdhd"));
    if (header.size() < 20) return std::nullopt;
    const bool wideHeader = header[0] == 1;
    if (wideHeader && header.size() < 32) return std::nullopt;
    const std::uint64_t scale = mp4::bigEndian(header, wideHeader ? 20 : 12, 4);
    const std::uint64_t duration = mp4::bigEndian(header, wideHeader ? 24 : 16, wideHeader ? 8 : 4);
    if (duration == (wideHeader ? ~std::uint64_t{0} : 0xFFFFFFFFULL))
        return std::nullopt;  // unknown

    // Each edit's duration and where it starts in the media; an empty edit
    // (-1) only delays the track.
    const Bytes list = payloadOf(file, named(edits, "elst"));
    const bool wideList = !list.empty() && list[0] == 1;
    const std::uint64_t entrySize = wideList ? 20 : 12;
    const std::optional<std::uint64_t> count = entries(list, 4, 8, entrySize);
    const std::uint64_t none = wideList ? ~std::uint64_t{0} : 0xFFFFFFFFULL;
    std::uint64_t edited = 0, firstStart = 0;
    bool started = false;
    for (std::uint64_t entry = 0; count && entry < *count; ++entry) {
        const std::size_t at = 8 + entry * entrySize;
        const std::uint64_t start = mp4::bigEndian(list, at + (wideList ? 8 : 4), wideList ? 8 : 4);
        if (start == none) continue;
        if (!started) firstStart = start;
        started = true;
        edited += mp4::bigEndian(list, at, wideList ? 8 : 4);
    }
    if (edited > 0) return ratio(static_cast<double>(edited), static_cast<double>(movieScale));
    // Edits without a duration run to the media's end.
    if (firstStart >= duration) return std::nullopt;
    return ratio(static_cast<double>(duration - firstStart), static_cast<double>(scale));
}

// The length and wholeness the movie's first audio track tells.
Reading movieSeconds(ByteSource& file, const mp4::Atom& movie) {
    const Atoms atoms = childrenOf(file, movie);
    // Samples described in fragments outside the movie: no length told here.
    if (named(atoms, "mvex") != nullptr) return {};
    const Bytes movieHeader = payloadOf(file, named(atoms, "mvhd"));
    if (movieHeader.size() < 20 || (movieHeader[0] == 1 && movieHeader.size() < 24)) return {};
    const std::uint64_t movieScale = mp4::bigEndian(movieHeader, movieHeader[0] == 1 ? 20 : 12, 4);
    for (const mp4::Atom& track : atoms) {
        if (track.type != "trak") continue;
        const Atoms parts = childrenOf(file, track);
        const mp4::Atom* mediaAtom = named(parts, "mdia");
        if (mediaAtom == nullptr) continue;
        const Atoms media = childrenOf(file, *mediaAtom);
        // The handler's type follows version, flags and a reserved word.
        const Bytes handler = payloadOf(file, named(media, "hdlr"));
        if (handler.size() < 12 || !std::equal(handler.begin() + 8, handler.begin() + 12, "soun")) {
            continue;
        }
        const mp4::Atom* editAtom = named(parts, "edts");
        const Atoms edits = editAtom != nullptr ? childrenOf(file, *editAtom) : Atoms{};
        Reading reading{trackSeconds(file, media, edits, movieScale)};
        if (const mp4::Atom* info = named(media, "minf")) {
            const Atoms infos = childrenOf(file, *info);
            if (const mp4::Atom* table = named(infos, "stbl")) {
                reading.whole = samplesWithin(file, childrenOf(file, *table));
            }
        }
        return reading;
    }
    return {};
}

}  // namespace

Reading mp4(ByteSource& file) {
    // An atom that runs past the end (the movie, or the media data behind
    // it) is a file cut short, and a file without a movie holds no audio.
    const AudioKind::Atoms top = AudioKind::topLevel(file);
    const mp4::Atom* movie = named(top.whole, "moov");
    if (movie == nullptr) return {std::nullopt, false};
    Reading reading = movieSeconds(file, *movie);
    reading.whole = reading.whole && !top.cut;
    return reading;
}

}  // namespace tarvik::AudioLength::parts
