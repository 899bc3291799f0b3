// The pieces of AudioLength that its files share: numbers read from header
// bytes, a length made safe, and the MP4 reader. Internal to AudioLength.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

#include "Core/Convert/AudioLength.hpp"

namespace tarvik::AudioLength::parts {

inline std::uint64_t number(const Bytes& bytes, std::size_t at, std::size_t width, bool bigEndian) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i) {
        const std::uint8_t byte = bytes[bigEndian ? at + i : at + width - 1 - i];
        value = (value << 8) | byte;
    }
    return value;
}

// A length in seconds; nothing for a rate or count that gives no positive,
// finite one (a rate beyond any number makes the length 0).
inline std::optional<double> ratio(double count, double perSecond) {
    const double seconds = count / perSecond;
    if (!(perSecond > 0) || !(seconds > 0) || !std::isfinite(seconds)) return std::nullopt;
    return seconds;
}

// An MP4 file (it has "ftyp" at byte 4): its audio track's length, and
// whether that track's samples all lie within the file.
Reading mp4(ByteSource& file);

}  // namespace tarvik::AudioLength::parts
