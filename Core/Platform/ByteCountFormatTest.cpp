#include <gtest/gtest.h>

#include "Core/Platform/ByteCountFormat.hpp"

namespace tarvik {
namespace {

TEST(ByteCountFormat, DecimalUnitsWithThePrecisionOfEachUnit) {
    constexpr std::int64_t largest = std::numeric_limits<std::int64_t>::max();
    const std::vector<std::pair<std::int64_t, std::string>> cases = {
        {0, "0 バイト"},         {999, "999 バイト"},
        {1000, "1 KB"},          {1499, "1 KB"},
        {1500, "2 KB"},          {999499, "999 KB"},
        {999500, "1 MB"},  // would read "1000 KB"
        {1234567, "1.2 MB"},     {1250000, "1.3 MB"},
        {12345678, "12.3 MB"},   {999950000, "1 GB"},
        {1234567890, "1.23 GB"}, {31914983424, "31.91 GB"},  // 32 GB card
        {2000000000000, "2 TB"}, {largest, "9.22 EB"},
        {-1500, "-2 KB"},        {-largest - 1, "-9.22 EB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(formatByteCount(bytes), text) << bytes;
}

}  // namespace
}  // namespace tarvik
