#include "Core/Convert/AudioLength.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "Core/Convert/AudioLengthParts.hpp"
#include "Core/Convert/ID3Tag.hpp"
#include "Core/Platform/Errors.hpp"

namespace tarvik::AudioLength {
namespace {

using parts::ratio;

// Chunks looked at before a file counts as having no length: real files
// hold a handful.
constexpr int chunkLimit = 1024;
// How far behind its tags an MP3's first frame may start; the first look
// reads a little, enough where the frames start at once.
constexpr std::uint64_t syncSearch = 64 * 1024;
constexpr std::uint64_t firstLook = 4096;
constexpr std::size_t readChunk = 64 * 1024;

bool startsWith(const Bytes& bytes, std::size_t at, std::string_view text) {
    return bytes.size() >= at + text.size() &&
           std::equal(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

std::optional<double> flac(ByteSource& file, std::uint64_t at) {
    // The stream information block comes first: 4 bytes of header, then the
    // sample rate (20 bits) and the total samples (36 bits) at bytes 10 to 17.
    const Bytes head = file.read(at, 4 + 18);
    if (head.size() < 22 || (head[0] & 0x7F) != 0) return std::nullopt;
    const std::uint64_t rate = numberAt(head, 14, 3, ByteOrder::big) >> 4;
    const std::uint64_t samples = numberAt(head, 17, 5, ByteOrder::big) & 0xFFFFFFFFFULL;
    return ratio(static_cast<double>(samples), static_cast<double>(rate));
}

// An 80-bit IEEE 754 extended number, as AIFF gives its sample rate.
double extended(const Bytes& bytes, std::size_t at) {
    const std::uint64_t signAndExponent = numberAt(bytes, at, 2, ByteOrder::big);
    const int exponent = static_cast<int>(signAndExponent & 0x7FFF);
    const std::uint64_t mantissa = numberAt(bytes, at + 2, 8, ByteOrder::big);
    if ((signAndExponent & 0x8000) != 0 || exponent == 0 || exponent == 0x7FFF) return 0;
    return std::ldexp(static_cast<double>(mantissa), exponent - 16383 - 63);
}

// WAV and AIFF are chunks of an id and a size, each padded to an even
// length. `at` is where the chunks start; `found` is given each chunk's id,
// its size as told, where its body starts and where the chunks end, and says
// whether to go on.
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

// Format tags whose length is their data size over the block size: PCM,
// floating point, A-law and mu-law.
bool isPlain(std::uint64_t format) {
    return format == 1 || format == 3 || format == 6 || format == 7;
}

// WAV, or RF64 (`wide`), whose 64-bit sizes stand in its "ds64" chunk.
std::optional<double> wave(ByteSource& file, std::uint64_t at, bool wide) {
    const std::uint64_t end = file.size();
    Bytes format;                          // the "fmt " chunk's first 26 bytes
    std::optional<std::uint64_t> data;     // bytes of audio
    std::optional<std::uint64_t> samples;  // "fact": samples of each channel
    std::uint64_t wideData = 0, wideSamples = 0;
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
                      if (wide && size == 0xFFFFFFFF) size = wideData;
                      // A stream written before its length was known says 0, or more
                      // than is there: the rest of the file is its data. The chunks
                      // go on after it, where "fmt " may stand.
                      if (size == 0 || size > end - body) size = end - body;
                      data = size;
                  }
                  return true;
              });
    if (format.size() < 16 || !data) return std::nullopt;
    const std::uint64_t rate = numberAt(format, 4, 4, ByteOrder::little);
    std::uint64_t kind = numberAt(format, 0, 2, ByteOrder::little);
    // WAVE_FORMAT_EXTENSIBLE names its format in the first two bytes of a GUID.
    if (kind == 0xFFFE && format.size() >= 26) kind = numberAt(format, 24, 2, ByteOrder::little);
    if (isPlain(kind)) {
        const std::uint64_t block = numberAt(format, 12, 2, ByteOrder::little);
        if (block == 0) return std::nullopt;
        return ratio(static_cast<double>(*data / block), static_cast<double>(rate));
    }
    // A compressed stream's length is its sample count; its average byte
    // rate is no more than an estimate.
    if (!samples) return std::nullopt;
    return ratio(static_cast<double>(*samples), static_cast<double>(rate));
}

std::optional<double> aiff(ByteSource& file, std::uint64_t at) {
    std::optional<double> seconds;
    eachChunk(file, at + 12, ByteOrder::big,
              [&](const Bytes& header, std::uint64_t& size, std::uint64_t body) {
                  if (!startsWith(header, 0, "COMM")) return true;
                  // Channels, sample frames, sample size, then the rate.
                  const Bytes common = file.read(body, 18);
                  if (size >= 18 && common.size() >= 18) {
                      seconds = ratio(static_cast<double>(numberAt(common, 2, 4, ByteOrder::big)),
                                      extended(common, 8));
                  }
                  return false;
              });
    return seconds;
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

Reading mp3(ByteSource& file, std::uint64_t at, std::stop_token stop) {
    std::uint64_t end = file.size();
    if (end >= 128 && startsWith(file.read(end - 128, 3), 0, "TAG")) end -= 128;
    if (at >= end) return {};
    std::optional<std::pair<std::size_t, Frame>> found;
    for (const std::uint64_t look : {firstLook, syncSearch}) {
        const Bytes head = file.read(at, static_cast<std::size_t>(std::min(look, end - at)));
        found = firstFrame(file, head, at, end);
        if (found || head.size() < look) break;
    }
    if (!found) return {};
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

}  // namespace

Reading read(ByteSource& file, std::stop_token stop) {
    try {
        const std::uint64_t at = id3::afterTags(file);
        const Bytes magic = file.read(at, 12);
        if (startsWith(magic, 0, "fLaC")) return {flac(file, at + 4)};
        if ((startsWith(magic, 0, "RIFF") || startsWith(magic, 0, "RF64")) &&
            startsWith(magic, 8, "WAVE")) {
            return {wave(file, at, startsWith(magic, 0, "RF64"))};
        }
        if (startsWith(magic, 0, "FORM") &&
            (startsWith(magic, 8, "AIFF") || startsWith(magic, 8, "AIFC"))) {
            return {aiff(file, at)};
        }
        if (startsWith(file.read(4, 4), 0, "ftyp")) return parts::mp4(file);
        return mp3(file, at, stop);
    } catch (const ConversionError&) {
        return {};  // the file shrank while it was read
    }
}

std::optional<double> seconds(ByteSource& file, std::stop_token stop) {
    return read(file, std::move(stop)).seconds;
}

}  // namespace tarvik::AudioLength
