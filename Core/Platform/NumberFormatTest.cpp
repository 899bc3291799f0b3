#include <gtest/gtest.h>

#include "Core/Platform/NumberFormat.hpp"
#include "Core/Testing/Locale.hpp"

namespace tarvik::numbers {
namespace {

// Numbers must not follow the process locale, which the application takes
// from the environment.
TEST(NumberFormat, APointAndWholeNumbersWhateverTheLocale) {
    testing::CommaDecimalLocale comma;
    EXPECT_EQ(fixed(9.0, 2), "9.00");
    EXPECT_EQ(fixed(-14.25, 1), "-14.2");  // round half to even on the binary value
    EXPECT_EQ(fixed(0.5, 0), "0");
    EXPECT_EQ(fixed(1234567.891, 3), "1234567.891");
    EXPECT_EQ(shortest(0.1), "0.1");
    EXPECT_EQ(shortest(-3.0), "-3");
    EXPECT_EQ(parseDouble("-14.2"), -14.2);
    EXPECT_EQ(parseDouble("+3"), 3.0);
    EXPECT_EQ(parseDouble("1e3"), 1000.0);
    EXPECT_EQ(parseInteger("007"), 7);
    EXPECT_EQ(parseInteger("-2"), -2);
    for (const char* text : {"1,5", "", "12 ", "3/12", "+"}) {
        EXPECT_EQ(parseDouble(text), std::nullopt) << text;
        EXPECT_EQ(parseInteger(text), std::nullopt) << text;
    }
}

}  // namespace
}  // namespace tarvik::numbers
