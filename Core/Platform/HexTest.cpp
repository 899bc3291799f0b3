#include <gtest/gtest.h>

#include "Core/Platform/Hex.hpp"

namespace tarvik {
namespace {

TEST(Hex, DigitsReadBackOnlyInWholePairs) {
    const std::string bytes("\0\x7F\x97\xFF", 4);
    EXPECT_EQ(hexDigits(bytes), "007f97ff");
    EXPECT_EQ(fromHexDigits("007F97fF"), bytes);
    // Cut within a pair: the digit after the end is not the view's.
    EXPECT_EQ(fromHexDigits(std::string_view("97f6", 3)), std::nullopt);
}

}  // namespace
}  // namespace tarvik
