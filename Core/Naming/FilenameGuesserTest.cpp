#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Core/Naming/FilenameGuesser.hpp"

namespace tarvik::FilenameGuesser {
namespace {

TEST(FilenameGuesser, GuessesTitleAndTrack) {
    struct Case {
        std::string fileName, artist;
        Guess expected;
    };
    const std::vector<Case> cases = {
        {"05 Song.flac", "", {"Song", "5"}},
        {"005_Song.mp3", "", {"Song", "5"}},
        {"05. Song.m4a", "", {"Song", "5"}},  // "." separates only after a lone number
        {"1-05 Song.flac", "", {"Song", "5"}},
        {"2_10 Song", "", {"Song", "10"}},
        {"01 - 02 Song.mp3", "", {"Song", "1"}},  // the second number is dropped
        {"00 Intro.wav", "", {"Intro", "0"}},
        {"2019 Song.flac", "", {"2019 Song", ""}},
        {"01 02 03.flac", "", {"03", "2"}},
        {"Song-Artist.mp3", "Artist", {"Song", ""}},
        {"Song - Artist.mp3", "Artist", {"Song - Artist", ""}},
        {"Song-Artist.mp3", "", {"Song-Artist", ""}},
        {"-Artist.mp3", "Artist", {"", ""}},
        {"07 Song-Artist.mp3", "Artist", {"Song", "7"}},
        {"Song", "", {"Song", ""}},
        {"Album.Version.Song.flac", "", {"Album.Version.Song", ""}},
        {"  Song\t.flac", "", {"Song", ""}},
        // Any decimal digit counts; only ASCII zeros are stripped.
        {"\uFF10\uFF15 \u66F2.flac", "", {"\u66F2", "\uFF10\uFF15"}},
        {"\u0663 Song.mp3", "", {"Song", "\u0663"}},
        // The artist is compared under canonical equivalence.
        {"Song-Beyonce\u0301.mp3", "Beyonc\u00E9", {"Song", ""}},
        {"Song-\u6B4C\u624B.flac", "\u6B4C\u624B", {"Song", ""}},
        {"Song-Other.flac", "Artist", {"Song-Other", ""}},
        // Dots that start or end a name do not make an extension.
        {".flac", "", {".flac", ""}},
        {"05 Song.", "", {"Song.", "5"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(guess(c.fileName, c.artist), c.expected) << c.fileName << " / " << c.artist;
    }
}

// An artist that begins with a combining mark fuses with the hyphen before it:
// the cut takes exactly the suffix, never a character of the title.
TEST(FilenameGuesser, ArtistSuffixCutNeverReachesIntoTheTitle) {
    EXPECT_EQ(guess("Song-\u0301X.mp3", "\u0301X"), (Guess{"Song", ""}));
}

}  // namespace
}  // namespace tarvik::FilenameGuesser
