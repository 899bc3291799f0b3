#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "Core/Naming/SequenceMatcher.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::SequenceMatcher {
namespace {

TEST(SequenceMatcher, HandRatios) {
    struct Case {
        std::string a, b;
        double expected;
    };
    const std::vector<Case> cases = {
        {"abcd", "bcde", 0.75},
        {"", "", 1.0},
        {"abc", "", 0.0},
        {"", "abc", 0.0},
        {"abc", "abc", 1.0},
        {"\U0001F600x", "\U0001F600y", 0.5},  // a scalar outside the BMP counts once
        {"e\u0301", "\u00E9", 0.0},           // scalars, not canonical equivalence
    };
    for (const Case& c : cases) EXPECT_DOUBLE_EQ(ratio(c.a, c.b), c.expected) << c.a;
}

// With 200 elements or more in the second sequence, an element found more
// than length/100 + 1 times there is left out of the index; matches can grow
// only over such popular elements once found.
TEST(SequenceMatcher, PopularElementsOfLongTexts) {
    const std::u32string popular(250, U'x');
    EXPECT_TRUE(makeIndex(popular).empty());
    EXPECT_EQ(makeIndex(std::u32string(199, U'x')).size(), 1U);  // short texts keep every element

    // Nothing indexed: the empty match at the start grows forwards over "x".
    EXPECT_EQ(matchingBlocks(std::u32string(10, U'x'), popular), (std::vector<Block>{{0, 0, 10}}));

    // "qr" is the longest indexed run; it then grows backwards over the
    // popular "x" but stops at the indexed "p" before it, which a later search
    // of the range before it finds.
    const std::u32string second = U"pxxxqr" + std::u32string(246, U'x');
    const std::u32string first = U"pxxxqr";
    EXPECT_EQ(findLongestMatch(first, second, makeIndex(second), 0, 6, 0, 252), (Block{1, 1, 5}));
    EXPECT_EQ(matchingBlocks(first, second), (std::vector<Block>{{0, 0, 6}}));
    EXPECT_DOUBLE_EQ(ratio(text::fromScalars(first), text::fromScalars(second)), 12.0 / 258.0);
}

std::u32string randomText(std::mt19937& random, std::size_t length) {
    static const std::u32string alphabet =
        U"abcdeABCDE  .-"
        U"\u00E9\u00FC\u00F1\u00C5\u0301"              // accents, a combining mark
        U"\u3042\u3044\u3046\u30A2\u30AB\u6F22\u5B57"  // kana, kanji
        U"\U0001F600\U0001F3B5\U00020000";             // outside the BMP
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::u32string out;
    for (std::size_t i = 0; i < length; ++i) out.push_back(alphabet[pick(random)]);
    return out;
}

// A related second text: the first with random edits, so that matches are long.
std::u32string mutated(std::mt19937& random, std::u32string text) {
    std::uniform_int_distribution<int> edits(0, 6);
    for (int n = edits(random); n > 0; --n) {
        std::uniform_int_distribution<std::size_t> at(0, text.size());
        const std::size_t position = at(random);
        switch (n % 3) {
            case 0:
                text.insert(position, randomText(random, 1 + position % 3));
                break;
            case 1:
                if (position < text.size()) text.erase(position, 1 + position % 4);
                break;
            default:
                if (position < text.size()) text[position] = randomText(random, 1)[0];
        }
    }
    return text;
}

TEST(SequenceMatcher, RatiosEqualPythonsDifflib) {
    std::mt19937 random(20261206);
    std::vector<std::pair<std::string, std::string>> pairs;
    for (int i = 0; i < 400; ++i) {
        std::uniform_int_distribution<std::size_t> length(0, i % 4 == 0 ? 8 : 120);
        std::u32string a = randomText(random, length(random));
        std::u32string b = (i % 5 == 0) ? randomText(random, length(random)) : mutated(random, a);
        if (b.size() >= 200) b.resize(199);  // difflib's popular rule starts at 200
        pairs.emplace_back(text::fromScalars(a), text::fromScalars(b));
    }
    testing::TempDir temp;
    nlohmann::json input = nlohmann::json::array();
    for (const auto& [a, b] : pairs) input.push_back({a, b});
    testing::writeFile(temp / "pairs.json", input.dump());

    const auto script = std::string(TARVIK_SOURCE_DIR) + "/Core/Naming/testdata/difflib_ratios.py";
    testing::ShellResult result =
        testing::runCommand({testing::systemPython, script, (temp / "pairs.json").string()});
    ASSERT_EQ(result.exitCode, 0);
    const nlohmann::json expected = nlohmann::json::parse(result.output);
    ASSERT_EQ(expected.size(), pairs.size());
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        EXPECT_EQ(ratio(pairs[i].first, pairs[i].second), expected[i].get<double>())
            << "pair " << i << ": " << pairs[i].first << " / " << pairs[i].second;
    }
}

}  // namespace
}  // namespace tarvik::SequenceMatcher
