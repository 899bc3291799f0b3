#include "Core/Pipeline/SpaceEstimate.hpp"

#include <cmath>
#include <limits>

namespace tarvik::SpaceEstimate {
namespace {

constexpr std::int64_t highest = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t lowest = std::numeric_limits<std::int64_t>::min();

std::int64_t saturate(bool overflowed, std::int64_t value, bool negative) {
    if (!overflowed) return value;
    return negative ? lowest : highest;
}

}  // namespace

std::int64_t reserveBytes(std::int64_t bitrateKbps, std::int64_t reserveMB) {
    // A profile read from a file is not validated again, so absurd numbers
    // must not overflow.
    std::int64_t bits = 0;
    bool overflowed = __builtin_mul_overflow(bitrateKbps, std::int64_t{1000}, &bits);
    bits = saturate(overflowed, bits, bitrateKbps < 0);
    const std::int64_t bytesPerSecond = bits >> 3;  // rounds down, also below zero
    std::int64_t audio = 0;
    overflowed = __builtin_mul_overflow(bytesPerSecond, std::int64_t{600}, &audio);
    audio = saturate(overflowed, audio, bytesPerSecond < 0);
    std::int64_t reserve = 0;
    overflowed = __builtin_mul_overflow(reserveMB, std::int64_t{1048576}, &reserve);
    reserve = saturate(overflowed, reserve, reserveMB < 0);
    std::int64_t total = 0;
    overflowed = __builtin_add_overflow(audio, reserve, &total);
    return saturate(overflowed, total, audio < 0);
}

std::optional<std::int64_t> trackCapacity(double freeBytes, std::int64_t bitrateKbps) {
    if (bitrateKbps <= 0) return std::nullopt;
    const double songs =
        std::trunc(freeBytes / (static_cast<double>(bitrateKbps) * 1000.0 * 0.125 * 260.0));
    if (!std::isfinite(songs)) return std::nullopt;
    // The cut to an integer is only defined inside the 64-bit range.
    if (songs >= 9223372036854775808.0) return highest;
    if (songs < -9223372036854775808.0) return lowest;
    return static_cast<std::int64_t>(songs);
}

std::optional<std::int64_t> cardCapacity(std::int64_t freeBytes, std::int64_t bitrateKbps,
                                         std::int64_t reserveMB) {
    const std::int64_t headroom = reserveBytes(bitrateKbps, reserveMB);
    const double usable = freeBytes > headroom ? static_cast<double>(freeBytes - headroom) : 0.0;
    return trackCapacity(usable, bitrateKbps);
}

}  // namespace tarvik::SpaceEstimate
