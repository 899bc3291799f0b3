#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Core/Naming/TextNormalizer.hpp"

namespace tarvik::TextNormalizer {
namespace {

struct TextCase {
    std::string input, expected;
};

TEST(TextNormalizer, Clean) {
    const std::vector<TextCase> cases = {
        {"  Title [Explicit]  ", "Title"},
        {"Title (clean) (Live)", "Title (Live)"},
        {"a\u3000b", "a b"},
        {"a \t\n b", "a b"},
        {"Cafe\u0301", "Caf\u00E9"},
        {"[Explicit]", ""},
        {"\u3000\u3000", ""},
    };
    for (const TextCase& c : cases) EXPECT_EQ(clean(c.input), c.expected) << c.input;
}

TEST(TextNormalizer, CleanTitleRemovesRemasterNotes) {
    const std::vector<TextCase> cases = {
        {"Song - Remastered 2011", "Song"},
        {"Song (2011 Remaster)", "Song"},
        {"Song [REMASTERED]", "Song"},
        {"Song - 2009 Remaster", "Song"},
        {"- Remastered", "- Remastered"},  // the removal would leave nothing
        {"Song - Live - Remastered", "Song - Live"},
        {"Remastering Blues", "Remastering Blues"},
        {"Song [Explicit]", "Song"},
    };
    for (const TextCase& c : cases) EXPECT_EQ(cleanTitle(c.input), c.expected) << c.input;
}

TEST(TextNormalizer, CleanAlbumRemovesSingleAndEPCaseSensitively) {
    const std::vector<TextCase> cases = {
        {"Album - Single", "Album"},
        {"Album - EP", "Album"},
        {"Album - single", "Album - single"},
        {"Album-EP", "Album-EP"},
        {"Album - EP [Explicit]", "Album - EP"},  // the designation must end the text
    };
    for (const TextCase& c : cases) EXPECT_EQ(cleanAlbum(c.input), c.expected) << c.input;
}

TEST(TextNormalizer, StripBracketsTakesMixedKinds) {
    const std::vector<TextCase> cases = {
        {"Song (Live)", "Song"},
        {"Song [Live) x", "Song x"},
        {"\u66F2\u540D\uFF08\u30E9\u30A4\u30D6\uFF09", "\u66F2\u540D"},
        {"\u300C\u6620\u753B\u300D\u4E3B\u984C\u6B4C", "\u4E3B\u984C\u6B4C"},
        {"(a) (b) c", "c"},
        {"Unclosed (part", "Unclosed (part"},
    };
    for (const TextCase& c : cases) EXPECT_EQ(stripBrackets(c.input), c.expected) << c.input;
}

TEST(TextNormalizer, KeyKeepsLettersMarksAndNumbers) {
    const std::vector<TextCase> cases = {
        {"\uFF34\uFF48\uFF45 \uFF22\uFF41\uFF4E\uFF44\uFF01", "theband"},
        {"AC/DC", "acdc"},
        {"Guns N' Roses", "gunsnroses"},
        {"\u3042\u3044\u3046 123", "\u3042\u3044\u3046123"},
        {"Caf\u00E9", "caf\u00E9"},
        {"!!! ???", ""},
    };
    for (const TextCase& c : cases) EXPECT_EQ(key(c.input), c.expected) << c.input;
}

TEST(TextNormalizer, Similarity) {
    struct Case {
        std::string x, y;
        double expected;
    };
    const std::vector<Case> cases = {
        {"", "anything", 0.0},        {"anything", "", 0.0},
        {"!!!", "???", 1.0},           // both keys empty
        {"Song (Live)", "Song", 1.0},  // through the bracket-stripped keys
        {"abcd", "bcde", 0.75},       {"Hello", "hello", 1.0},
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(similarity(c.x, c.y), c.expected) << c.x;
}

TEST(TextNormalizer, Similar) {
    struct Case {
        std::string x, y;
        bool expected;
    };
    const std::vector<Case> cases = {
        {"!!!", "!!!", false},  // an empty key of x is never similar
        {"Hello", "hello!", true},
        {"\uFF21\uFF22\uFF23", "abc", true},
        {"Yesterday", "Yesterdays", true},  // ratio 18/19
        {"Help", "Hello", false},
        {"abc", "", false},
    };
    for (const Case& c : cases) EXPECT_EQ(similar(c.x, c.y), c.expected) << c.x << " / " << c.y;
}

}  // namespace
}  // namespace tarvik::TextNormalizer
