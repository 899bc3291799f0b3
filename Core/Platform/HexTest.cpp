#include <gtest/gtest.h>

#include "Core/Platform/Hex.hpp"

namespace tarvik {
namespace {

TEST(Hex, BytesGoToDigitsAndBack) {
    struct Case {
        std::string bytes;
        const char* digits;
    };
    for (const Case& c : {Case{"", ""}, Case{std::string("\0\x7F", 2), "007f"},
                          Case{"\x80\xFF\x97\xF6", "80ff97f6"}}) {
        EXPECT_EQ(hexDigits(c.bytes), c.digits);
        EXPECT_EQ(fromHexDigits(c.digits), c.bytes);
    }
    EXPECT_EQ(fromHexDigits("97F6aB"), std::string("\x97\xF6\xAB"));
    for (const char* refused : {"9", "97f", "9g", "0x", " 97", "97 ", "+1", "\xC3\xA9"}) {
        EXPECT_EQ(fromHexDigits(refused), std::nullopt) << refused;
    }
    // Cut within a pair: the digit after the end is not the view's.
    EXPECT_EQ(fromHexDigits(std::string_view("97f6", 3)), std::nullopt);
}

}  // namespace
}  // namespace tarvik
