#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "Core/Platform/ByteCountFormat.hpp"

namespace tarvik {
namespace {

struct Case {
    std::int64_t bytes;
    std::string expected;
};

TEST(ByteCountFormat, DecimalUnitsWithThePrecisionOfEachUnit) {
    const std::vector<Case> cases = {
        {0, "0 バイト"},         {1, "1 バイト"},
        {999, "999 バイト"},     {1000, "1 KB"},
        {1499, "1 KB"},          {1500, "2 KB"},
        {532000, "532 KB"},      {999499, "999 KB"},
        {999500, "1 MB"},  // would read "1000 KB"
        {1000000, "1 MB"},       {1234567, "1.2 MB"},
        {1250000, "1.3 MB"},     {12345678, "12.3 MB"},
        {999950000, "1 GB"},     {1200000000, "1.2 GB"},
        {1234567890, "1.23 GB"}, {31914983424, "31.91 GB"},  // a 32 GB card
        {2000000000000, "2 TB"}, {std::numeric_limits<std::int64_t>::max(), "9.22 EB"},
        {-1500, "-2 KB"},        {std::numeric_limits<std::int64_t>::min(), "-9.22 EB"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(formatByteCount(c.bytes), c.expected) << c.bytes;
    }
}

}  // namespace
}  // namespace tarvik
