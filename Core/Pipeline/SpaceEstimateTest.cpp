#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <vector>

#include "Core/Pipeline/SpaceEstimate.hpp"

namespace tarvik {
namespace {

constexpr std::int64_t highest = std::numeric_limits<std::int64_t>::max();

TEST(SpaceEstimate, ReserveIsTenMinutesOfAudioPlusTheReserve) {
    struct Case {
        std::int64_t bitrate, reserveMB, expected;
    };
    const std::vector<Case> cases = {
        {320, 50, 76428800},         {128, 50, 62028800},
        {highest, highest, highest},                 // held at the end of the range, no overflow
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SpaceEstimate::reserveBytes(c.bitrate, c.reserveMB), c.expected) << c.bitrate;
    }
}

TEST(SpaceEstimate, CapacityCountsWholeSongsOf260Seconds) {
    struct Case {
        double freeBytes;
        std::int64_t bitrate;
        std::optional<std::int64_t> expected;
    };
    const std::vector<Case> cases = {
        {2000000000.0, 192, 320},  // 320.5 cut towards zero
        {6240000.0, 192, 1},       // exactly one song
        {9223372036854775807.0, 96, 2956208986171},
        {1e300, 96, highest},
        {2000000000.0, 0, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SpaceEstimate::trackCapacity(c.freeBytes, c.bitrate), c.expected)
            << c.freeBytes << " at " << c.bitrate;
    }
}

}  // namespace
}  // namespace tarvik
