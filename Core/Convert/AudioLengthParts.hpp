// The pieces of AudioLength that its files share: a length made safe and the
// MP4 reader. Internal to AudioLength.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

#include "Core/Convert/AudioLength.hpp"

namespace tarvik::AudioLength::parts {

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
