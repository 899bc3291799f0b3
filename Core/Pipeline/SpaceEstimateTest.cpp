#include <gtest/gtest.h>

#include <limits>

#include "Core/Pipeline/SpaceEstimate.hpp"

namespace tarvik {
namespace {

constexpr std::int64_t highest = std::numeric_limits<std::int64_t>::max();

// Ten minutes at the bit rate plus the reserve; whole songs of 260 seconds;
// figures beyond the 64-bit range are held at its end.
TEST(SpaceEstimate, FiguresAreTenMinutesPlusTheReserveAndWholeSongsOf260Seconds) {
    EXPECT_EQ(SpaceEstimate::reserveBytes(320, 50), 76428800);
    EXPECT_EQ(SpaceEstimate::reserveBytes(highest, highest), highest);
    EXPECT_EQ(SpaceEstimate::trackCapacity(2000000000.0, 192), 320);  // 320.5 cut towards zero
    EXPECT_EQ(SpaceEstimate::trackCapacity(1e300, 96), highest);
    EXPECT_EQ(SpaceEstimate::trackCapacity(2000000000.0, 0), std::nullopt);
}

}  // namespace
}  // namespace tarvik
