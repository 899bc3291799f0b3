#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "Core/Convert/LoudnessAnalyzer.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/Audio.hpp"
#include "Core/Testing/Locale.hpp"
#include "Core/Testing/Script.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using Measurement = LoudnessAnalyzer::Measurement;
using testing::TempDir;

std::string summary(std::string_view loudness, std::string_view peak) {
    return "[Parsed_ebur128_0 @ 0x55d8249aff80] Summary:\n\n  Integrated loudness:\n    I:        "
           " " +
           std::string(loudness) +
           " LUFS\n    Threshold: -31.8 LUFS\n\n  Loudness range:\n"
           "    LRA:        20.0 LU\n    Threshold: -41.8 LUFS\n\n  True peak:\n    Peak:      " +
           std::string(peak) + " dBFS\n";
}

TEST(LoudnessAnalyzer, ParsesTheValuesOfTheLastSummary) {
    constexpr double minusInfinity = -std::numeric_limits<double>::infinity();
    const std::vector<std::pair<std::string, std::optional<Measurement>>> cases = {
        {summary("-21.8", "-21.1"), Measurement{-21.8, -21.1}},
        {summary("-30.0", "-9.0") + summary("-12.5", "0.3"), Measurement{-12.5, 0.3}},
        {summary("-inf", "-inf"), Measurement{minusInfinity, minusInfinity}},
        {"I: -20.0 LUFS\nPeak: -1.5 dBFS\n", Measurement{-20.0, -1.5}},  // no heading: all
        {"I: -20.0 LUFS\nPeak: -1.5 dBFS\nSummary:\n  I: -9.0 LUFS\n", std::nullopt},
        {"Summary:\n    I:         -20.0 LUFS\n", std::nullopt},
        {summary(".", "-1.0"), std::nullopt},
    };
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
        {std::nullopt, "anull"},
    };
    for (const auto& [measurement, expected] : cases) {
        EXPECT_EQ(LoudnessAnalyzer::gainFilter(measurement, -14), expected);
    }
}

TEST(LoudnessAnalyzer, MeasuresWhatFFmpegHears) {
    TempDir temp;
    testing::makeTone(temp / "full.flac", {.seconds = 2});
    testing::makeTone(temp / "quiet.wav", {.seconds = 2, .volumeDB = -10});
    testing::makeTone(temp / "silent.flac", {.seconds = 2, .volumeDB = -200});
    const LoudnessAnalyzer analyzer{std::make_shared<FFmpegRunner>("/usr/bin/ffmpeg")};
    auto full = analyzer.measure(temp / "full.flac", {});
    auto quiet = analyzer.measure(temp / "quiet.wav", {});
    auto silent = analyzer.measure(temp / "silent.flac", {});
    ASSERT_TRUE(full && quiet && silent);
    // ffmpeg's sine source is a quiet tone, about -21 dBFS at its peak.
    EXPECT_NEAR(full->truePeakDBFS, -21.0, 1.0);
    EXPECT_NEAR(full->integratedLUFS - quiet->integratedLUFS, 10.0, 0.2);
    EXPECT_NEAR(full->truePeakDBFS - quiet->truePeakDBFS, 10.0, 0.2);
    EXPECT_LE(silent->integratedLUFS, -70.0);  // gated away: the filter's floor or -inf

    // A failed run says what failed; cancelling is tried by the converter's tests.
    const LoudnessAnalyzer failing{std::make_shared<FFmpegRunner>(
        testing::writeScript(temp / "ffmpeg", "echo 'a.flac: Invalid data' >&2; exit 1"))};
    try {
        failing.measure(temp / "full.flac", {});
        ADD_FAILURE() << "no error";
    } catch (const FFmpegError& error) {
        EXPECT_EQ(error.exitCode(), 1);
        EXPECT_EQ(error.stderr(), "音量の測定に失敗: a.flac: Invalid data\n");
    }
}

}  // namespace
}  // namespace tarvik
