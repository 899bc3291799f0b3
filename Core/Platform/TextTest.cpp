#include <gtest/gtest.h>

#include <thread>

#include "Core/Platform/Text.hpp"

namespace tarvik::text {
namespace {

// "é" written as e + combining acute.
const std::string decomposedE = "e\u0301";

TEST(Text, IllFormedUTF8ReadsAsReplacementCharacter) {
    const std::string broken =
        "a\xFF"
        "b\xE3\x81";
    EXPECT_FALSE(isValidUTF8(broken));
    EXPECT_EQ(scalars(broken), U"a\uFFFDb\uFFFD");
    EXPECT_TRUE(isValidUTF8(nfc(broken)));
    // A name keeps its bytes: two Shift-JIS names stay two.
    EXPECT_EQ(nfcName("\x83\x65\x83\x58"), "\x83\x65\x83\x58");
    EXPECT_NE(nfcName("\x83\x65\x83\x58"), nfcName("\x83\x65\x83\x59"));
    EXPECT_EQ(nfcName(decomposedE), "\u00E9");
}

TEST(Text, LengthsCountWhatTheySay) {
    // Text, scalars, UTF-16 units and graphemes.
    const std::vector<std::tuple<std::string, std::size_t, std::size_t, std::size_t>> cases = {
        {"", 0, 0, 0},
        {decomposedE, 2, 2, 1},
        {"\U0001F600", 1, 2, 1},                                  // outside the BMP
        {"\u2764\uFE0F", 2, 2, 1},                                // emoji with variation selector
        {"\U0001F1EF\U0001F1F5", 2, 4, 1},                        // flag: two regional indicators
        {"\U0001F468\u200D\U0001F469\u200D\U0001F467", 5, 8, 1},  // family ZWJ sequence
        {"\r\n", 2, 2, 1},
        {"\u3042\u3044", 2, 2, 2},
    };
    for (const auto& [text, scalarsIn, utf16, graphemesIn] : cases) {
        EXPECT_EQ(scalarCount(text), scalarsIn) << text;
        EXPECT_EQ(utf16Length(text), utf16) << text;
        EXPECT_EQ(graphemeCount(text), graphemesIn) << text;
        EXPECT_EQ(fromScalars(scalars(text)), text);
    }
}

TEST(Text, PrefixesAndSuffixesKeepWholeUnits) {
    EXPECT_EQ(prefixScalars("a\U0001F600b", 2), "a\U0001F600");
    EXPECT_EQ(prefixScalars("ab", 5), "ab");
    EXPECT_EQ(prefixBytes("a\u66F2b", 3), "a");  // the three-byte scalar doesn't fit
    EXPECT_EQ(prefixBytes("a\u66F2b", 4), "a\u66F2");
    EXPECT_EQ(prefixBytes("ab\xFF\xFE", 3), "ab\xFF");  // not UTF-8: bytes
    EXPECT_EQ(upper("a\u00E9b"), "A\u00C9B");
    EXPECT_EQ(upper("@az[`{"), "@AZ[`{");  // ASCII is mapped letter by letter
    EXPECT_EQ(lower("@AZ[`{"), "@az[`{");
    EXPECT_EQ(prefixGraphemes("a" + decomposedE + "c", 2), "a" + decomposedE);
    EXPECT_EQ(prefixGraphemes("abc", 0), "");
    EXPECT_EQ(suffixGraphemes("xy\u2764\uFE0F", 1), "\u2764\uFE0F");
    EXPECT_EQ(suffixGraphemes("abc", 10), "abc");
    EXPECT_EQ(graphemes("a" + decomposedE), (std::vector<std::string>{"a", decomposedE}));
}

TEST(Text, TrimTakesSpaceSeparatorsAndTabsButNotLineBreaks) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"  a b  ", "a b"},     {"\t\u3000a\u00A0", "a"},  // tab, ideographic space, no-break space
        {"\u2003a\u202F", "a"},                            // em space, narrow no-break space
        {"\na\n", "\na\n"},                                // line breaks stay
        {" \r\n ", "\r\n"},     {"   ", ""},
    };
    for (const auto& [input, trimmed] : cases) EXPECT_EQ(trim(input), trimmed) << input;
    EXPECT_EQ(trimScalars(" .name. ", U" ."), "name");
    EXPECT_EQ(trimScalars("..", U" ."), "");
}

TEST(Text, BreakIteratorsWorkFromManyThreads) {
    const std::string sample = "a" + decomposedE + "\U0001F468\u200D\U0001F469 \u3042";
    const std::size_t expected = graphemeCount(sample);
    std::vector<std::jthread> threads;  // joined before what they read goes
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 500; ++i) ASSERT_EQ(graphemeCount(sample), expected);
        });
    }
}

}  // namespace
}  // namespace tarvik::text
