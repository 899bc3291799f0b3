#include <limits>

#include "Core/Convert/ConvertTesting.hpp"
#include "Core/Convert/LoudnessAnalyzer.hpp"
#include "Core/Testing/Locale.hpp"

namespace tarvik {
namespace {

// Measuring a real file, and a measurement that fails, are tried by the
// converter's tests, which read the levelled result back through ffmpeg.
using Measurement = LoudnessAnalyzer::Measurement;

std::string summary(std::string_view loudness, std::string_view peak) {
    return "[Parsed_ebur128_0 @ 0x55d8249aff80] Summary:\n\n  Integrated loudness:\n    I:  " +
           std::string(loudness) +
           " LUFS\n    Threshold: -31.8 LUFS\n\n  True peak:\n    Peak: " + std::string(peak) +
           " dBFS\n";
}

TEST(LoudnessAnalyzer, ParsesTheValuesOfTheLastSummary) {
    constexpr double minusInfinity = -std::numeric_limits<double>::infinity();
    const std::vector<std::pair<std::string, std::optional<Measurement>>> cases = {
        {summary("-21.8", "-21.1"), Measurement{-21.8, -21.1}},
        {summary("-30.0", "-9.0") + summary("-12.5", "0.3"), Measurement{-12.5, 0.3}},
        {summary("-inf", "-inf"), Measurement{minusInfinity, minusInfinity}},
        {"I: -20.0 LUFS\nPeak: -1.5 dBFS\n", Measurement{-20.0, -1.5}},  // no heading: all
        {"I: -20.0 LUFS\nPeak: -1.5 dBFS\nSummary:\n  I: -9.0 LUFS\n", std::nullopt},
        {summary(".", "-1.0"), std::nullopt}};
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(LoudnessAnalyzer::parse(text), expected) << text;
    }
}

// Run under a comma-decimal locale where one is installed: the texts are for
// ffmpeg, not for the user.
TEST(LoudnessAnalyzer, GainFilterTexts) {
    testing::CommaDecimalLocale locale;
    const std::string limiter = ",alimiter=limit=0.8913:level=false:attack=5:release=50";
    const std::vector<std::pair<std::optional<Measurement>, std::string>> cases = {
        {Measurement{-23.0, -0.5}, "volume=9.00dB" + limiter},
        {Measurement{-40.0, -30.0}, "volume=20.00dB"},
        {Measurement{-34.0, -21.0}, "volume=20.00dB"},  // exactly +20, peak lands on -1.0
        {Measurement{-34.0, -20.99}, "volume=20.00dB" + limiter},
        {Measurement{-14.123, -9.0}, "volume=0.12dB"},
        {Measurement{-13.996, -9.0}, "volume=-0.00dB"},
        {std::nullopt, "anull"}};
    for (const auto& [measurement, expected] : cases) {
        EXPECT_EQ(LoudnessAnalyzer::gainFilter(measurement, -14), expected);
    }
}

}  // namespace
}  // namespace tarvik
