#include <gtest/gtest.h>

#include "Core/Naming/FilenameGuesser.hpp"

namespace tarvik::FilenameGuesser {
namespace {

TEST(FilenameGuesser, GuessesTitleAndTrack) {
    const std::vector<std::tuple<std::string, std::string, Guess>> cases = {
        {"05. Song.m4a", "", {"Song", "5"}},       // "." separates only after a lone number
        {"001 - 02_Song.mp3", "", {"Song", "1"}},  // the second number is dropped
        {"2019 Song.flac", "", {"2019 Song", ""}},
        // Any decimal digit counts; only ASCII zeros are stripped.
        {"\uFF10\uFF15 \u66F2.flac", "", {"\u66F2", "\uFF10\uFF15"}},
        // The artist is compared under canonical equivalence, and one that
        // begins with a combining mark takes the hyphen's place exactly.
        {"07 Song-Beyonce\u0301.mp3", "Beyonc\u00E9", {"Song", "7"}},
        {"Song-\u0301X.mp3", "\u0301X", {"Song", ""}},
        // A dot that ends a name makes no extension.
        {"1-05 Song.", "", {"Song.", "5"}},
    };
    for (const auto& [name, artist, expected] : cases)
        EXPECT_EQ(guess(name, artist), expected) << name;
}

}  // namespace
}  // namespace tarvik::FilenameGuesser
