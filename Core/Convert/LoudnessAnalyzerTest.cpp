#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <thread>
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
using testing::writeScript;

constexpr double minusInfinity = -std::numeric_limits<double>::infinity();

std::string summary(std::string_view loudness, std::string_view peak) {
    return "[Parsed_ebur128_0 @ 0x55d8249aff80] Summary:\n\n  Integrated loudness:\n    I:        "
           " " +
           std::string(loudness) +
           " LUFS\n    Threshold: -31.8 LUFS\n\n  Loudness range:\n"
           "    LRA:        20.0 LU\n    Threshold: -41.8 LUFS\n\n  True peak:\n    Peak:      " +
           std::string(peak) + " dBFS\n";
}

TEST(LoudnessAnalyzer, ParsesTheValuesOfTheLastSummary) {
    struct Case {
        std::string name;
        std::string text;
        std::optional<Measurement> expected;
    };
    const std::vector<Case> cases = {
        {"one summary", summary("-21.8", "-21.1"), Measurement{-21.8, -21.1}},
        {"two summaries: the last counts", summary("-30.0", "-9.0") + summary("-12.5", "0.3"),
         Measurement{-12.5, 0.3}},
        {"silence", summary("-inf", "-inf"), Measurement{minusInfinity, minusInfinity}},
        {"no summary heading: the whole text", "I: -20.0 LUFS\nPeak: -1.5 dBFS\n",
         Measurement{-20.0, -1.5}},
        {"values before the last summary are not read",
         "I: -20.0 LUFS\nPeak: -1.5 dBFS\nSummary:\n  I: -9.0 LUFS\n", std::nullopt},
        {"no peak", "Summary:\n    I:         -20.0 LUFS\n", std::nullopt},
        {"a lone point", summary(".", "-1.0"), std::nullopt},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(LoudnessAnalyzer::parse(test.text), test.expected) << test.name;
    }
}

// Worked values for a target of -14 LUFS unless the case says otherwise.
void expectGainFilters() {
    const std::string limiter = ",alimiter=limit=0.8913:level=false:attack=5:release=50";
    struct Case {
        std::optional<Measurement> measurement;
        double target;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {Measurement{-23.0, -0.5}, -14, "volume=9.00dB" + limiter},
        {Measurement{-40.0, -30.0}, -14, "volume=20.00dB"},
        {Measurement{-34.0, -21.0}, -14, "volume=20.00dB"},  // exactly +20, peak lands on -1.0
        {Measurement{-34.0, -20.99}, -14, "volume=20.00dB" + limiter},
        {Measurement{-14.123, -9.0}, -14, "volume=0.12dB"},
        {Measurement{-13.996, -9.0}, -14, "volume=-0.00dB"},
        {std::nullopt, -14, "anull"},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(LoudnessAnalyzer::gainFilter(test.measurement, test.target), test.expected)
            << test.expected;
    }
}

TEST(LoudnessAnalyzer, GainFilterTexts) {
    expectGainFilters();
}

TEST(LoudnessAnalyzer, GainFilterTextsIgnoreACommaDecimalLocale) {
    testing::CommaDecimalLocale locale;
    if (!locale.active()) GTEST_SKIP() << "no locale with a decimal comma is installed";
    expectGainFilters();
}

TEST(LoudnessAnalyzer, MeasuresWhatFFmpegHears) {
    TempDir temp;
    testing::makeTone(temp / "full.flac", {.seconds = 2});
    testing::makeTone(temp / "quiet.wav", {.seconds = 2, .volumeDB = -10});
    testing::makeTone(temp / "silent.flac", {.seconds = 2, .volumeDB = -200});
    const LoudnessAnalyzer analyzer{std::make_shared<FFmpegRunner>("/usr/bin/ffmpeg")};
    auto full = analyzer.measure(temp / "full.flac", {});
    auto quiet = analyzer.measure(temp / "quiet.wav", {});
    ASSERT_TRUE(full && quiet);
    // ffmpeg's sine source is a quiet tone, about -21 dBFS at its peak.
    EXPECT_NEAR(full->truePeakDBFS, -21.0, 1.0);
    EXPECT_NEAR(full->integratedLUFS - quiet->integratedLUFS, 10.0, 0.2);
    EXPECT_NEAR(full->truePeakDBFS - quiet->truePeakDBFS, 10.0, 0.2);
    auto silent = analyzer.measure(temp / "silent.flac", {});
    ASSERT_TRUE(silent);
    EXPECT_LE(silent->integratedLUFS, -70.0);  // gated away: the filter's floor or -inf
}

TEST(LoudnessAnalyzer, FailuresOfTheMeasuringRun) {
    TempDir temp;
    testing::writeFile(temp / "a.flac", "x");
    const auto analyzerWith = [&](std::string_view body) {
        return LoudnessAnalyzer{std::make_shared<FFmpegRunner>(writeScript(temp / "ffmpeg", body))};
    };
    try {
        analyzerWith("echo 'a.flac: Invalid data' >&2; exit 1").measure(temp / "a.flac", {});
        ADD_FAILURE() << "no error";
    } catch (const FFmpegError& error) {
        EXPECT_EQ(error.exitCode(), 1);
        EXPECT_EQ(error.stderr(), "音量の測定に失敗: a.flac: Invalid data\n");
    }
    // A run that succeeds without a readable summary measures nothing.
    EXPECT_EQ(analyzerWith("echo 'no summary here' >&2").measure(temp / "a.flac", {}),
              std::nullopt);

    std::stop_source before;
    before.request_stop();
    EXPECT_THROW(analyzerWith("exit 0").measure(temp / "a.flac", before.get_token()), Cancelled);

    std::stop_source during;
    std::jthread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        during.request_stop();
    });
    EXPECT_THROW(analyzerWith("exec sleep 30").measure(temp / "a.flac", during.get_token()),
                 Cancelled);
}

}  // namespace
}  // namespace tarvik
