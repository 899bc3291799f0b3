// Rough byte counts from a profile's bit rate: the free space a run keeps on
// the card (600 seconds of audio plus a reserve) and how many songs of 260
// seconds fit into some free bytes. Pure functions, any thread, never fail.
#pragma once

#include <cstdint>
#include <optional>

namespace tarvik::SpaceEstimate {

// ((bitrate × 1000) ÷ 8, rounded down) × 600 + reserve MiB, in bytes; a result
// beyond the 64-bit range is held at its end.
std::int64_t reserveBytes(std::int64_t bitrateKbps, std::int64_t reserveMB);

// freeBytes ÷ (bitrate × 1000 × 0.125 × 260), cut towards zero; nothing when
// the bit rate is not positive, since no finite count follows from it.
std::optional<std::int64_t> trackCapacity(double freeBytes, std::int64_t bitrateKbps);

// The songs of 260 seconds that a run writes onto a card with `freeBytes`
// free before it stops for the headroom it keeps (reserveBytes); nothing
// without a positive bit rate. Every window that says how much fits asks this.
std::optional<std::int64_t> cardCapacity(std::int64_t freeBytes, std::int64_t bitrateKbps,
                                         std::int64_t reserveMB);

}  // namespace tarvik::SpaceEstimate
