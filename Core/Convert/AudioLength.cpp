#include "Core/Convert/AudioLength.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <string_view>

#include "Core/Convert/ID3Tag.hpp"
#include "Core/Convert/MP4Atoms.hpp"
#include "Core/Platform/Errors.hpp"

namespace tarvik::AudioLength {
namespace {

// Chunks, and atoms of a level, looked at before a file counts as having no
// length: real files hold a handful.
constexpr int chunkLimit = 1024;
// How far behind its tags an MP3's first frame may start.
constexpr std::uint64_t syncSearch = 64 * 1024;
constexpr std::size_t readChunk = 64 * 1024;

std::uint64_t number(const Bytes& bytes, std::size_t at, std::size_t width, bool bigEndian) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        const std::uint8_t byte = bytes[bigEndian ? at + i : at + width - 1 - i];
        value = (value << 8) | byte;
    }
    return value;
}

bool startsWith(const Bytes& bytes, std::size_t at, std::string_view text) {
    return bytes.size() >= at + text.size() &&
           std::equal(text.begin(), text.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
}

// A length in seconds; nothing for a rate or count that gives no positive,
// finite one (a rate beyond any number makes the length 0).
std::optional<double> ratio(double count, double perSecond) {
    const double seconds = count / perSecond;
    if (!(perSecond > 0) || !(seconds > 0) || !std::isfinite(seconds)) return std::nullopt;
    return seconds;
}

// Where the audio starts: after any ID3v2 tags in front (some writers put
// one before FLAC and WAV data too).
std::uint64_t afterTags(ByteSource& file) {
    std::uint64_t at = 0;
    for (int tags = 0; tags < 4; ++tags) {
        const std::optional<std::uint64_t> size = id3::tagLength(file.read(at, 10));
        if (!size || *size > file.size() - at) break;
        at += *size;
    }
    return at;
}

std::optional<double> flac(ByteSource& file, std::uint64_t at) {
    // The stream information block comes first: 4 bytes of header, then the
    // sample rate (20 bits) and the total samples (36 bits) at bytes 10 to 17.
    const Bytes head = file.read(at, 4 + 18);
    if (head.size() < 22 || (head[0] & 0x7F) != 0) return std::nullopt;
    const std::uint64_t rate = number(head, 14, 3, true) >> 4;
    const std::uint64_t samples = number(head, 17, 5, true) & 0xFFFFFFFFFULL;
    return ratio(static_cast<double>(samples), static_cast<double>(rate));
}

// An 80-bit IEEE 754 extended number, as AIFF gives its sample rate.
double extended(const Bytes& bytes, std::size_t at) {
    const std::uint64_t signAndExponent = number(bytes, at, 2, true);
    const int exponent = static_cast<int>(signAndExponent & 0x7FFF);
    const std::uint64_t mantissa = number(bytes, at + 2, 8, true);
    if ((signAndExponent & 0x8000) != 0 || exponent == 0 || exponent == 0x7FFF) return 0;
    return std::ldexp(static_cast<double>(mantissa), exponent - 16383 - 63);
}

// WAV (little-endian) and AIFF (big-endian) are chunks of an id and a size,
// each padded to an even length.
std::optional<double> chunked(ByteSource& file, std::uint64_t at, bool wave) {
    const std::uint64_t end = file.size();
    at += 12;
    std::uint64_t bytesPerSecond = 0;
    for (int chunks = 0; chunks < chunkLimit && end - at >= 8; ++chunks) {
        const Bytes header = file.read(at, 8);
        if (header.size() < 8) break;
        const std::uint64_t size = number(header, 4, 4, !wave);
        const std::uint64_t body = at + 8;
        if (wave && startsWith(header, 0, "fmt ")) {
            const Bytes format = file.read(body, 12);
            if (size < 12 || format.size() < 12) return std::nullopt;
            bytesPerSecond = number(format, 8, 4, false);
        } else if (wave && startsWith(header, 0, "data")) {
            // A stream written before its length was known says more than is there.
            const std::uint64_t length = std::min(size, end - body);
            return ratio(static_cast<double>(length), static_cast<double>(bytesPerSecond));
        } else if (!wave && startsWith(header, 0, "COMM")) {
            // Channels, sample frames, sample size, then the rate.
            const Bytes common = file.read(body, 18);
            if (size < 18 || common.size() < 18) return std::nullopt;
            return ratio(static_cast<double>(number(common, 2, 4, true)), extended(common, 8));
        }
        if (size > end - body) break;
        at = body + size;
        if (size % 2 != 0 && at < end) ++at;
    }
    return std::nullopt;
}

std::optional<double> mp4(ByteSource& file) {
    std::size_t budget = chunkLimit;
    const auto movie = mp4::findAtom(file, 0, file.size(), "moov", budget);
    if (!movie) return std::nullopt;
    budget = chunkLimit;
    const auto header = mp4::findAtom(file, movie->payload, movie->end, "mvhd", budget);
    if (!header) return std::nullopt;
    // A version byte and flags; then two dates, the time scale and the
    // duration, 4 bytes each in version 0, dates and duration 8 in version 1.
    const Bytes body = file.read(header->payload, 32);
    if (body.empty() || header->end - header->payload < (body[0] == 1 ? 32U : 20U) ||
        body.size() < (body[0] == 1 ? 32U : 20U)) {
        return std::nullopt;
    }
    const bool wide = body[0] == 1;
    const std::uint64_t scale = number(body, wide ? 20 : 12, 4, true);
    const std::uint64_t duration = number(body, wide ? 24 : 16, wide ? 8 : 4, true);
    if (duration == (wide ? ~std::uint64_t{0} : 0xFFFFFFFFULL)) return std::nullopt;  // unknown
    return ratio(static_cast<double>(duration), static_cast<double>(scale));
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

// The frame count a Xing or Info frame (after the side information) or a
// VBRI frame (32 bytes after the header) gives, when it gives one.
std::optional<std::uint64_t> framesTold(const Bytes& frame, const Frame& header) {
    const std::size_t xing = 4 + header.sideInfo;
    if ((startsWith(frame, xing, "Xing") || startsWith(frame, xing, "Info")) &&
        frame.size() >= xing + 12 && (number(frame, xing + 4, 4, true) & 1) != 0) {
        return number(frame, xing + 8, 4, true);
    }
    if (startsWith(frame, 36, "VBRI") && frame.size() >= 36 + 18) {
        return number(frame, 36 + 14, 4, true);
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

std::optional<double> mp3(ByteSource& file, std::uint64_t at, std::stop_token stop) {
    std::uint64_t end = file.size();
    if (end >= 128 && startsWith(file.read(end - 128, 3), 0, "TAG")) end -= 128;
    if (at >= end) return std::nullopt;
    const Bytes head = file.read(at, static_cast<std::size_t>(std::min(syncSearch, end - at)));
    const auto found = firstFrame(file, head, at, end);
    if (!found) return std::nullopt;
    at += found->first;
    const Frame* first = &found->second;
    if (const std::optional<std::uint64_t> told = framesTold(file.read(at, 64), *first);
        told && *told > 0) {
        return ratio(static_cast<double>(*told) * first->samples, first->rate);
    }
    // No frame says how many there are: count them, passing over anything
    // between them one byte at a time.
    std::uint64_t frames = 0;
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
            at += std::min(frame.length, end - at);
        }
    }
    return ratio(static_cast<double>(frames) * first->samples, first->rate);
}

}  // namespace

std::optional<double> seconds(ByteSource& file, std::stop_token stop) {
    try {
        const std::uint64_t at = afterTags(file);
        const Bytes magic = file.read(at, 12);
        if (startsWith(magic, 0, "fLaC")) return flac(file, at + 4);
        if (startsWith(magic, 0, "RIFF") && startsWith(magic, 8, "WAVE")) {
            return chunked(file, at, true);
        }
        if (startsWith(magic, 0, "FORM") &&
            (startsWith(magic, 8, "AIFF") || startsWith(magic, 8, "AIFC"))) {
            return chunked(file, at, false);
        }
        if (startsWith(file.read(4, 4), 0, "ftyp")) return mp4(file);
        return mp3(file, at, stop);
    } catch (const ConversionError&) {
        return std::nullopt;  // the file shrank while it was read
    }
}

}  // namespace tarvik::AudioLength
