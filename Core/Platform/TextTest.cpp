#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "Core/Platform/Text.hpp"

namespace tarvik::text {
namespace {

// "é" written as e + combining acute, and precomposed.
const std::string decomposedE = "e\u0301";
const std::string composedE = "\u00E9";

TEST(Text, NormalisationForms) {
    struct Case {
        std::string input, nfc, nfkc, nfkd;
    };
    const std::vector<Case> cases = {
        {"plain", "plain", "plain", "plain"},
        {decomposedE, composedE, composedE, decomposedE},
        {"\uFF21\uFF22", "\uFF21\uFF22", "AB", "AB"},          // full-width letters
        {"\u304B\u3099", "\u304C", "\u304C", "\u304B\u3099"},  // か + voiced mark
        {"\u2460", "\u2460", "1", "1"},                        // circled digit one
        {"", "", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(nfc(c.input), c.nfc) << c.input;
        EXPECT_EQ(nfkc(c.input), c.nfkc) << c.input;
        EXPECT_EQ(nfkd(c.input), c.nfkd) << c.input;
    }
    EXPECT_TRUE(equivalent(decomposedE, composedE));
    EXPECT_FALSE(equivalent("e", composedE));
}

TEST(Text, IllFormedUTF8ReadsAsReplacementCharacter) {
    const std::string broken =
        "a\xFF"
        "b\xE3\x81";
    EXPECT_FALSE(isValidUTF8(broken));
    EXPECT_EQ(scalars(broken), U"a\uFFFDb\uFFFD");
    EXPECT_TRUE(isValidUTF8(nfc(broken)));
    EXPECT_EQ(scalarCount(broken), 4U);
}

TEST(Text, LowerCasingIsLocaleIndependent) {
    EXPECT_EQ(lower("ABC Def"), "abc def");
    EXPECT_EQ(lower("\u00C9T\u00C9"), "\u00E9t\u00E9");
    EXPECT_EQ(lower("I"), "i");             // no Turkish dotless i
    EXPECT_EQ(lower("\u0130"), "i\u0307");  // full mapping of İ
    EXPECT_EQ(lower("\uFF21"), "\uFF41");   // full-width A
    EXPECT_EQ(lower("\u30A2"), "\u30A2");   // kana unchanged
}

TEST(Text, LengthsCountWhatTheySay) {
    struct Case {
        std::string text;
        std::size_t scalars, utf16, graphemes;
    };
    const std::vector<Case> cases = {
        {"", 0, 0, 0},
        {"abc", 3, 3, 3},
        {decomposedE, 2, 2, 1},
        {"\U0001F600", 1, 2, 1},                                  // outside the BMP
        {"\u2764\uFE0F", 2, 2, 1},                                // emoji with variation selector
        {"\U0001F1EF\U0001F1F5", 2, 4, 1},                        // flag: two regional indicators
        {"\U0001F468\u200D\U0001F469\u200D\U0001F467", 5, 8, 1},  // family ZWJ sequence
        {"\r\n", 2, 2, 1},
        {"\u3042\u3044", 2, 2, 2},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(scalarCount(c.text), c.scalars) << c.text;
        EXPECT_EQ(utf16Length(c.text), c.utf16) << c.text;
        EXPECT_EQ(graphemeCount(c.text), c.graphemes) << c.text;
        EXPECT_EQ(fromScalars(scalars(c.text)), c.text);
    }
}

TEST(Text, PrefixesAndSuffixesKeepWholeUnits) {
    EXPECT_EQ(prefixScalars("a\U0001F600b", 2), "a\U0001F600");
    EXPECT_EQ(prefixScalars("ab", 5), "ab");
    EXPECT_EQ(prefixScalars("ab", 0), "");
    EXPECT_EQ(prefixGraphemes("a" + decomposedE + "c", 2), "a" + decomposedE);
    EXPECT_EQ(prefixGraphemes("abc", 10), "abc");
    EXPECT_EQ(suffixGraphemes("xy\u2764\uFE0F", 1), "\u2764\uFE0F");
    EXPECT_EQ(suffixGraphemes("abc", 3), "abc");
    EXPECT_EQ(suffixGraphemes("abc", 0), "");
    const std::vector<std::string> clusters = graphemes("a" + decomposedE + "\U0001F600");
    EXPECT_EQ(clusters, (std::vector<std::string>{"a", decomposedE, "\U0001F600"}));
}

TEST(Text, TrimTakesSpaceSeparatorsAndTabsButNotLineBreaks) {
    struct Case {
        std::string input, trimmed;
    };
    const std::vector<Case> cases = {
        {"  a b  ", "a b"},
        {"\t\u3000a\u00A0", "a"},  // tab, ideographic space, no-break space
        {"\u2003a\u202F", "a"},    // em space, narrow no-break space
        {"\na\n", "\na\n"},        // line breaks stay
        {" \r\n ", "\r\n"},
        {"   ", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(trim(c.input), c.trimmed) << c.input;
    EXPECT_EQ(trimScalars(" .name. ", U" ."), "name");
    EXPECT_EQ(trimScalars("..", U" ."), "");
}

TEST(Text, BreakIteratorsWorkFromManyThreads) {
    const std::string sample = "a" + decomposedE + "\U0001F468\u200D\U0001F469 \u3042";
    const std::size_t expected = graphemeCount(sample);
    std::vector<std::thread> threads;
    std::vector<int> failures(8, 0);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i) {
                if (graphemeCount(sample) != expected) ++failures[static_cast<std::size_t>(t)];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int failed : failures) EXPECT_EQ(failed, 0);
}

}  // namespace
}  // namespace tarvik::text
