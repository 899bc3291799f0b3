#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "Core/Platform/NumberFormat.hpp"

namespace tarvik::numbers {
namespace {

// Formatting must not follow the process locale, which the application takes
// from the environment.
class CommaLocale : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "C.UTF-8"}) {
            if (std::setlocale(LC_ALL, name) != nullptr) break;
        }
    }
    void TearDown() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(CommaLocale, FixedNotationUsesAPoint) {
    EXPECT_EQ(fixed(9.0, 2), "9.00");
    EXPECT_EQ(fixed(-14.25, 1), "-14.2");  // round half to even on the binary value
    EXPECT_EQ(fixed(0.5, 0), "0");
    EXPECT_EQ(fixed(1234567.891, 3), "1234567.891");
    EXPECT_EQ(shortest(0.1), "0.1");
    EXPECT_EQ(shortest(-3.0), "-3");
}

TEST_F(CommaLocale, ParsingTakesOnlyWholeNumbers) {
    EXPECT_EQ(parseDouble("-14.2"), -14.2);
    EXPECT_EQ(parseDouble("+3"), 3.0);
    EXPECT_EQ(parseDouble("1e3"), 1000.0);
    EXPECT_EQ(parseDouble("1,5"), std::nullopt);
    EXPECT_EQ(parseDouble(""), std::nullopt);
    EXPECT_EQ(parseDouble("12 "), std::nullopt);
    EXPECT_EQ(parseInteger("007"), 7);
    EXPECT_EQ(parseInteger("-2"), -2);
    EXPECT_EQ(parseInteger("3/12"), std::nullopt);
    EXPECT_EQ(parseInteger("+"), std::nullopt);
}

}  // namespace
}  // namespace tarvik::numbers
