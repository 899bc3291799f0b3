#include "Core/Convert/AudioLength.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "Core/Convert/AudioKind.hpp"
#include "Core/Convert/AudioLengthParts.hpp"
#include "Core/Platform/Errors.hpp"

namespace tarvik::AudioLength {
namespace {

using AudioKind::eachChunk;
using AudioKind::Kind;
using parts::ratio;

// How far behind its tags an MP3's first frame may start; the first look
// reads a little, enough where the frames start at once.
constexpr std::uint64_t syncSearch = 64 * 1024;
constexpr std::uint64_t firstLook = 4096;
constexpr std::size_t readChunk = 64 * 1024;

bool startsWith(const Bytes& bytes, std::size_t at, std::string_view text) {
    return bytes.size() >= at + text.size() &&
           std::equal(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

Reading flac(ByteSource& file, std::uint64_t at) {
    // The stream information block comes first: 4 bytes of header, then the
    // sample rate (20 bits) and the total samples (36 bits) at bytes 10 to 17.
    const Bytes head = file.read(at + 4, 4 + 18);
    if (head.size() < 22 || (head[0] & 0x7F) != 0) return {};
    const std::uint64_t rate = numberAt(head, 14, 3, ByteOrder::big) >> 4;
    const std::uint64_t samples = numberAt(head, 17, 5, ByteOrder::big) & 0xFFFFFFFFFULL;
    // Metadata cut short, or none of the samples it tells of behind it.
    const AudioKind::Blocks blocks = AudioKind::flacBlocks(file, at);
    return {ratio(static_cast<double>(samples), static_cast<double>(rate)),
            !blocks.cut && (samples == 0 || blocks.end < file.size())};
}

// An 80-bit IEEE 754 extended number, as AIFF gives its sample rate.
double extended(const Bytes& bytes, std::size_t at) {
    const std::uint64_t signAndExponent = numberAt(bytes, at, 2, ByteOrder::big);
    const int exponent = static_cast<int>(signAndExponent & 0x7FFF);
    const std::uint64_t mantissa = numberAt(bytes, at + 2, 8, ByteOrder::big);
    if ((signAndExponent & 0x8000) != 0 || exponent == 0 || exponent == 0x7FFF) return 0;
    return std::ldexp(static_cast<double>(mantissa), exponent - 16383 - 63);
}

// Format tags whose length is their data size over the block size: PCM,
// floating point, A-law and mu-law.
bool isPlain(std::uint64_t format) {
    return format == 1 || format == 3 || format == 6 || format == 7;
}

// Whether a chunk whose size runs past the file leaves the file whole:
// only where the chunk holds the audio of a stream written before its
// length was known, which says 0 there, or a size near 2 or 4 GiB that was
// never set.
bool sizeTold(std::uint64_t size) {
    return size != 0 && size < 0x7FFFF000;
}

// WAV, or RF64 (`wide`), whose 64-bit sizes stand in its "ds64" chunk.
Reading wave(ByteSource& file, std::uint64_t at, bool wide) {
    const std::uint64_t end = file.size();
    Bytes format;                          // the "fmt " chunk's first 26 bytes
    std::optional<std::uint64_t> data;     // bytes of audio
    std::optional<std::uint64_t> samples;  // "fact": samples of each channel
    std::uint64_t wideData = 0, wideSamples = 0;
    bool whole = true;
    eachChunk(file, at + 12, ByteOrder::little,
              [&](const Bytes& header, std::uint64_t& size, std::uint64_t body) {
                  if (startsWith(header, 0, "ds64")) {
                      const Bytes sizes = file.read(body, 24);
                      if (sizes.size() == 24) {
                          wideData = numberAt(sizes, 8, 8, ByteOrder::little);
                          wideSamples = numberAt(sizes, 16, 8, ByteOrder::little);
                      }
                  } else if (startsWith(header, 0, "fmt ")) {
                      format = file.read(
                          body, static_cast<std::size_t>(std::min<std::uint64_t>(size, 26)));
                  } else if (startsWith(header, 0, "fact")) {
                      const Bytes fact = file.read(body, 4);
                      if (fact.size() == 4) samples = numberAt(fact, 0, 4, ByteOrder::little);
                      if (wide && samples == 0xFFFFFFFF) samples = wideSamples;
                  } else if (startsWith(header, 0, "data")) {
                      const bool streamed =
                          wide ? size == 0xFFFFFFFF && wideData == 0 : !sizeTold(size);
                      if (wide && size == 0xFFFFFFFF) size = wideData;
                      // A stream written before its length was known: the rest of
                      // the file is its data. The chunks go on after it, where
                      // "fmt " may stand. Data that says more than there is was
                      // cut short; what is there is its length.
                      if (streamed || size > end - body) {
                          whole = whole && streamed;
                          size = end - body;
                      }
                      data = size;
                      return true;
                  }
                  whole = whole && size <= end - body;
                  return true;
              });
    if (format.size() < 16 || !data) return {std::nullopt, whole};
    const std::uint64_t rate = numberAt(format, 4, 4, ByteOrder::little);
    std::uint64_t kind = numberAt(format, 0, 2, ByteOrder::little);
    // WAVE_FORMAT_EXTENSIBLE names its format in the first two bytes of a GUID.
    if (kind == 0xFFFE && format.size() >= 26) kind = numberAt(format, 24, 2, ByteOrder::little);
    if (isPlain(kind)) {
        const std::uint64_t block = numberAt(format, 12, 2, ByteOrder::little);
        if (block == 0) return {std::nullopt, whole};
        return {ratio(static_cast<double>(*data / block), static_cast<double>(rate)), whole};
    }
    // A compressed stream's length is its sample count; its average byte
    // rate is no more than an estimate.
    if (!samples) return {std::nullopt, whole};
    return {ratio(static_cast<double>(*samples), static_cast<double>(rate)), whole};
}

Reading aiff(ByteSource& file, std::uint64_t at) {
    Reading reading;
    eachChunk(file, at + 12, ByteOrder::big,
              [&](const Bytes& header, std::uint64_t& size, std::uint64_t body) {
                  const bool sound = startsWith(header, 0, "SSND");
                  reading.whole =
                      reading.whole && (size <= file.size() - body || (sound && !sizeTold(size)));
                  if (!startsWith(header, 0, "COMM")) return true;
                  // Channels, sample frames, sample size, then the rate.
                  const Bytes common = file.read(body, 18);
                  if (size >= 18 && common.size() >= 18) {
                      reading.seconds =
                          ratio(static_cast<double>(numberAt(common, 2, 4, ByteOrder::big)),
                                extended(common, 8));
                  }
                  return true;
              });
    return reading;
}

// An MPEG audio layer III frame header.
struct Frame {
    std::uint64_t length = 0;  // 0: no frame header
    std::uint32_t rate = 0;
    std::uint32_t samples = 0;  // per frame
    std::size_t sideInfo = 0;   // bytes between the header and a Xing frame's tag
};

Frame frameAt(const std::uint8_t* h) {
    static constexpr std::array<std::uint32_t, 15> mpeg1 = {0,   32,  40,  48,  56,  64,  80, 96,
                                                            112, 128, 160, 192, 224, 256, 320};
    static constexpr std::array<std::uint32_t, 15> mpeg2 = {0,  8,  16, 24,  32,  40,  48, 56,
                                                            64, 80, 96, 112, 128, 144, 160};
    static constexpr std::array<std::uint32_t, 3> rates = {44100, 48000, 32000};
    const int version = (h[1] >> 3) & 3;  // 3: MPEG 1, 2: MPEG 2, 0: MPEG 2.5
    const int bitrateIndex = h[2] >> 4;
    const int rateIndex = (h[2] >> 2) & 3;
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || version == 1 || ((h[1] >> 1) & 3) != 1 ||
        bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3) {
        return {};
    }
    const bool first = version == 3;
    const int halved = first ? 0 : version == 2 ? 1 : 2;  // MPEG 2 and 2.5 halve the rates
    const std::uint32_t rate = rates[static_cast<std::size_t>(rateIndex)] >> halved;
    const std::uint64_t kilobits = (first ? mpeg1 : mpeg2)[static_cast<std::size_t>(bitrateIndex)];
    const bool mono = (h[3] >> 6) == 3;
    return {(first ? 144000 : 72000) * kilobits / rate + ((h[2] >> 1) & 1), rate,
            first ? 1152U : 576U, first ? (mono ? 17U : 32U) : (mono ? 9U : 17U)};
}

// What a Xing or Info frame (after the side information) or a VBRI frame
// (32 bytes after the header) tells: the frames, and the bytes from that
// frame's start to the end of the audio.
struct Told {
    std::uint64_t frames = 0;
    std::optional<std::uint64_t> bytes;
};

std::optional<Told> told(const Bytes& frame, const Frame& header) {
    const std::size_t xing = 4 + header.sideInfo;
    if ((startsWith(frame, xing, "Xing") || startsWith(frame, xing, "Info")) &&
        frame.size() >= xing + 16) {
        const std::uint64_t flags = numberAt(frame, xing + 4, 4, ByteOrder::big);
        if ((flags & 1) == 0) return std::nullopt;
        Told told{numberAt(frame, xing + 8, 4, ByteOrder::big), std::nullopt};
        if ((flags & 2) != 0) told.bytes = numberAt(frame, xing + 12, 4, ByteOrder::big);
        return told;
    }
    if (startsWith(frame, 36, "VBRI") && frame.size() >= 36 + 18) {
        return Told{numberAt(frame, 36 + 14, 4, ByteOrder::big),
                    numberAt(frame, 36 + 10, 4, ByteOrder::big)};
    }
    return std::nullopt;
}

// Where the first frame starts within `head` (read at `at`): a header whose
// frame is followed by another, or by the end.
std::optional<std::pair<std::size_t, Frame>> firstFrame(ByteSource& file, const Bytes& head,
                                                        std::uint64_t at, std::uint64_t end) {
    for (std::size_t offset = 0; offset + 4 <= head.size(); ++offset) {
        const Frame frame = frameAt(head.data() + offset);
        if (frame.length == 0) continue;
        if (frame.length >= end - at - offset) return std::pair(offset, frame);
        const std::uint64_t next = offset + frame.length;
        const Bytes after = next + 4 <= head.size()
                                ? Bytes(head.begin() + static_cast<std::ptrdiff_t>(next),
                                        head.begin() + static_cast<std::ptrdiff_t>(next + 4))
                                : file.read(at + next, 4);
        if (after.size() == 4 && frameAt(after.data()).length != 0) return std::pair(offset, frame);
    }
    return std::nullopt;
}

// An ADTS frame header (AAC without a container), whose length no header tells.
bool isADTS(const Bytes& head) {
    return head.size() >= 2 && head[0] == 0xFF && (head[1] & 0xF6) == 0xF0;
}

Reading mp3(ByteSource& file, std::uint64_t at, std::stop_token stop) {
    std::uint64_t end = file.size();
    if (end >= 128 && startsWith(file.read(end - 128, 3), 0, "TAG")) end -= 128;
    // A tag in front or behind says audio is there. Where the file holds
    // nothing but the tags, or zeros behind them (a copy cut at the tag's
    // end, or one whose room was taken before it was written), there is
    // none; other bytes of no kind known may be whole for all that can be
    // told.
    const bool tagged = at > 0 || end < file.size();
    if (at >= end) return {std::nullopt, !tagged};
    std::optional<std::pair<std::size_t, Frame>> found;
    Bytes head;
    for (const std::uint64_t look : {firstLook, syncSearch}) {
        head = file.read(at, static_cast<std::size_t>(std::min(look, end - at)));
        if (look == firstLook && isADTS(head)) return {};
        found = firstFrame(file, head, at, end);
        if (found || head.size() < look) break;
    }
    if (!found) {
        return {std::nullopt,
                !tagged || std::ranges::any_of(head, [](std::uint8_t b) { return b; })};
    }
    at += found->first;
    const Frame* first = &found->second;
    if (const std::optional<Told> frames = told(file.read(at, 64), *first);
        frames && frames->frames > 0) {
        return {ratio(static_cast<double>(frames->frames) * first->samples, first->rate),
                !frames->bytes || end - at >= *frames->bytes};
    }
    // No frame says how many there are: count them, passing over anything
    // between them one byte at a time. A last frame cut short is a file
    // cut short.
    std::uint64_t frames = 0;
    bool whole = true;
    Bytes chunk;
    std::uint64_t chunkAt = at;
    while (end - at >= 4) {
        if (at - chunkAt + 4 > chunk.size()) {
            if (stop.stop_requested()) throw Cancelled();
            chunk = file.read(
                at, static_cast<std::size_t>(std::min<std::uint64_t>(readChunk, end - at)));
            chunkAt = at;
            if (chunk.size() < 4) break;
        }
        const Frame frame = frameAt(chunk.data() + (at - chunkAt));
        if (frame.length == 0) {
            ++at;
        } else {
            ++frames;
            whole = frame.length <= end - at;
            at += std::min(frame.length, end - at);
        }
    }
    return {ratio(static_cast<double>(frames) * first->samples, first->rate), whole};
}

// An ASF file (WMA): no length read here, but its header cut short leaves
// none of its audio.
Reading asf(ByteSource& file, std::uint64_t at) {
    const Bytes head = file.read(at, 24);
    const std::uint64_t end = file.size() - at;
    return {std::nullopt, head.size() == 24 && numberAt(head, 16, 8, ByteOrder::little) <= end};
}

}  // namespace

Reading read(ByteSource& file, std::stop_token stop) {
    try {
        const AudioKind::Start start = AudioKind::of(file);
        // The file ended inside the tag in front of its audio.
        if (start.tagCut) return {std::nullopt, false};
        switch (start.kind) {
            case Kind::flac:
                return flac(file, start.at);
            case Kind::wave:
            case Kind::rf64:
                return wave(file, start.at, start.kind == Kind::rf64);
            case Kind::aiff:
                return aiff(file, start.at);
            case Kind::mp4:
                return parts::mp4(file);
            case Kind::asf:
                return asf(file, start.at);
            case Kind::ogg:
                return {};  // its length stands in its last page, not its headers
            case Kind::mpeg:
                break;
        }
        return mp3(file, start.at, stop);
    } catch (const ConversionError&) {
        return {};  // the file shrank while it was read
    }
}

std::optional<double> seconds(ByteSource& file, std::stop_token stop) {
    return read(file, std::move(stop)).seconds;
}

}  // namespace tarvik::AudioLength
