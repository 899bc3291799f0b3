#include <gtest/gtest.h>

#include <limits>

#include "Core/Pipeline/SpaceEstimate.hpp"

namespace tarvik {
namespace {

constexpr std::int64_t highest = std::numeric_limits<std::int64_t>::max();

TEST(SpaceEstimate, FiguresAreTenMinutesPlusTheReserveAndWholeSongsOf260Seconds) {
    EXPECT_EQ(SpaceEstimate::reserveBytes(128, 50), 62028800);
    EXPECT_EQ(SpaceEstimate::reserveBytes(highest, highest), highest);  // held, no overflow
    EXPECT_EQ(SpaceEstimate::trackCapacity(2000000000.0, 192), 320);    // 320.5 cut towards zero
    EXPECT_EQ(SpaceEstimate::trackCapacity(6240000.0, 192), 1);         // exactly one song
    EXPECT_EQ(SpaceEstimate::trackCapacity(9223372036854775807.0, 96), 2956208986171);
    EXPECT_EQ(SpaceEstimate::trackCapacity(1e300, 96), highest);
    EXPECT_EQ(SpaceEstimate::trackCapacity(2000000000.0, 0), std::nullopt);
}

}  // namespace
}  // namespace tarvik
