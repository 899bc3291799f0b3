#include <limits>

#include "Core/Convert/ConvertTesting.hpp"
#include "Core/Convert/LoudnessAnalyzer.hpp"

namespace tarvik {
namespace {

// Measuring a real file, and a measurement that fails, are tried by the
// converter's tests, which see the gain reach the encoding.
using Measurement = LoudnessAnalyzer::Measurement;

// Run under a comma-decimal locale where one is installed: ffmpeg's numbers
// and the texts for it do not follow the user's locale.
TEST(LoudnessAnalyzer, ParsesTheLastSummaryAndWritesTheGainForFFmpeg) {
    testing::CommaDecimalLocale locale;
    constexpr double minusInfinity = -std::numeric_limits<double>::infinity();
    const std::vector<std::pair<std::string, std::optional<Measurement>>> cases = {
        {testing::loudnessSummary("-30.0", "-9.0") + testing::loudnessSummary("-12.5", "0.3"),
         Measurement{-12.5, 0.3}},
        {testing::loudnessSummary("-inf", "-inf"), Measurement{minusInfinity, minusInfinity}},
        {"I: -20.0 LUFS\nPeak: -1.5 dBFS\n", Measurement{-20.0, -1.5}},  // no heading: all
        {"I: -20.0 LUFS\nPeak: -1.5 dBFS\nSummary:\n  I: -9.0 LUFS\n", std::nullopt},
        {testing::loudnessSummary(".", "-1.0"), std::nullopt}};
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(LoudnessAnalyzer::parse(text), expected) << text;
    }
    const std::string limiter = ",alimiter=limit=0.8913:level=false:attack=5:release=50";
    const std::vector<std::pair<std::optional<Measurement>, std::string>> gains = {
        {Measurement{-23.0, -0.5}, "volume=9.00dB" + limiter},
        {Measurement{-40.0, -30.0}, "volume=20.00dB"},
        {Measurement{-34.0, -21.0}, "volume=20.00dB"},  // exactly +20, peak lands on -1.0
        {Measurement{-34.0, -20.99}, "volume=20.00dB" + limiter},
        {Measurement{-14.123, -9.0}, "volume=0.12dB"},
        {Measurement{-13.996, -9.0}, "volume=-0.00dB"},
        {std::nullopt, "anull"}};
    for (const auto& [measurement, expected] : gains) {
        EXPECT_EQ(LoudnessAnalyzer::gainFilter(measurement, -14), expected);
    }
}

}  // namespace
}  // namespace tarvik
