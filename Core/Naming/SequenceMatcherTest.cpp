#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <random>

#include "Core/Naming/SequenceMatcher.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::SequenceMatcher {
namespace {

std::u32string randomText(std::mt19937& random, std::size_t length) {
    static const std::u32string alphabet =
        U"abcdeABCDE  .-"
        U"\u00E9\u00FC\u00F1\u00C5\u0301"              // accents, a combining mark
        U"\u3042\u3044\u3046\u30A2\u30AB\u6F22\u5B57"  // kana, kanji
        U"\U0001F600\U0001F3B5\U00020000";             // outside the BMP
    std::u32string out;
    for (std::size_t i = 0; i < length; ++i) out.push_back(alphabet[random() % alphabet.size()]);
    return out;
}

// Python's difflib is the reference: random texts, most with a related second
// text, and hand pairs for the edges: empty texts, scalars outside the BMP
// counted once, no canonical equivalence, and texts of 200 scalars or more,
// where elements found more than length/100 + 1 times are left out of the index.
TEST(SequenceMatcher, RatiosEqualPythonsDifflib) {
    nlohmann::json pairs = nlohmann::json::parse(
        R"([["abcd", "bcde"], ["", ""], ["abc", ""], ["\ud83d\ude00x", "\ud83d\ude00y"],
            ["e\u0301", "\u00e9"], ["pxxxqr", "pxxxqr"]])");
    pairs.back()[1] = "pxxxqr" + std::string(246, 'x');
    pairs.push_back({std::string(10, 'x'), std::string(250, 'x')});
    std::mt19937 random(20261206);
    for (int i = 0; i < 400; ++i) {
        const std::u32string a = randomText(random, random() % (i % 4 == 0 ? 9 : 261));
        std::u32string b = a;
        const std::size_t at = random() % (a.size() + 1);
        b.replace(at, random() % 5, randomText(random, random() % 4));
        if (i % 5 == 0) b = randomText(random, random() % 261);
        pairs.push_back({text::fromScalars(a), text::fromScalars(b)});
    }
    testing::TempDir temp;
    testing::writeFile(temp / "pairs.json", pairs.dump());
    const auto script = std::string(TARVIK_SOURCE_DIR) + "/Core/Naming/testdata/difflib_ratios.py";
    testing::ShellResult result =
        testing::runCommand({testing::systemPython, script, (temp / "pairs.json").string()});
    ASSERT_EQ(result.exitCode, 0);
    const nlohmann::json expected = nlohmann::json::parse(result.output);
    ASSERT_EQ(expected.size(), pairs.size());
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        const std::string a = pairs[i][0], b = pairs[i][1];
        EXPECT_EQ(ratio(a, b), expected[i].get<double>()) << i << ": " << a << " / " << b;
    }
}

}  // namespace
}  // namespace tarvik::SequenceMatcher
