#include <gtest/gtest.h>

#include "Core/Naming/SafeName.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/TextEncoding.hpp"

namespace tarvik::SafeName {
namespace {

const Rules card{.nameMax = 60};
const Rules ascii{.nameMax = 60, .asciiOnly = true};
const Rules jis{.nameMax = 60, .forJIS = true};
const Rules longest{.nameMax = 200};  // the largest profile limit

std::string repeated(std::string_view piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
}

// ext4 takes 255 bytes and exFAT 255 UTF-16 units: long names of wide
// characters are cut between grapheme clusters, and no name is ever empty.
TEST(SafeName, MadeAndSuffixedNamesAreCleanFitTheFileSystemAndAreNeverEmpty) {
    const std::string family = "👨‍👩‍👧";  // one cluster, 18 bytes
    const std::vector<std::tuple<std::string, Rules, std::string>> cases = {
        {" . .. (Explicit)", card, "Fallback"},
        {"", Rules{.nameMax = 5}, "Fallb"},  // the fallback is cut too
        {"abc", Rules{.nameMax = -5}, "_"},
        {"a\\b:c*d\"e<f>g|h/i?\x01", card, "a_b_c_d_e_f_g_h_i__"},
        {"A/Why?", Rules{.nameMax = 60, .forMac = true}, "A_Why?"},
        {" .Song [Clean]\u3000\u3000Cafe\u0301. ", card, "Song Caf\u00E9"},
        // Folding full-width forms must not bring back what the card forbids.
        {"Caf\u00E9 \uFF21\uFF22\uFF1F\uFF0F\uFF0E\uFF0E\uFF0Fx", ascii, "Cafe AB__.._x"},
        {"\uFF41\uFF1A\uFF42", Rules{.nameMax = 60, .asciiOnly = true, .forMac = true}, "a_b"},
        {"\U0001F600bcdefg hij", Rules{.nameMax = 8}, "\U0001F600bcdefg"},  // no space is left
        {"\u3042\u301C\u00E9\u2764\uFE0F", jis, "\u3042~___"},
        {"\u3042\u3044\u3046\u3048\u304A\u304B", Rules{.nameMax = 60, .displayWidthMax = 10},
         "\u3042\u3044\u3046\u3048\u304A"},
        {repeated("漢", 200), longest, repeated("漢", 85)},  // 3 bytes each
        {repeated(family, 20), longest, repeated(family, 14)},
        {"a" + repeated("🇯🇵", 40), longest, "a" + repeated("🇯🇵", 31)},
        // A name that starts wide is cut to nothing: the fallback is cut the same.
        {"あい", Rules{.nameMax = 60, .displayWidthMax = 1}, "F"},
        {"あい", Rules{.nameMax = 1}, "あ"},
    };
    for (const auto& [name, rules, expected] : cases) {
        const std::string made = make(name, "Fallback", rules);
        EXPECT_EQ(made, expected) << "[" << name << "]";
        EXPECT_LE(std::max(made.size(), text::utf16Length(made)), fileSystemNameMax);
    }
    EXPECT_EQ(make("あ", "不明", Rules{.nameMax = 60, .displayWidthMax = 1}), "_");
    EXPECT_EQ(make("", "", card), "_");
    // A fallback is made safe like a name.
    for (const char* fallback : {"a/b", "..", "../..", "x:\x01"}) {
        const std::string made = make("", fallback, Rules{.nameMax = 60, .forMac = true});
        EXPECT_EQ(made.find_first_of("/:\x01"), std::string::npos) << fallback;
        EXPECT_NE(made, "..");
        EXPECT_FALSE(made.empty());
    }
}

TEST(SafeName, MadeNamesAreNeverForbiddenOrDotNames) {
    for (const std::string name :
         {"../..", "\uFF0F\uFF0E\uFF0E", "\uFF0E\uFF0E", ". ", "a/../b", "\u2016\u2225",
          "\\\\server\\share", "con:", "\x1F\x01", "\uFF3C\uFF0A\uFF02\uFF1C\uFF1E\uFF5C"}) {
        for (const Rules& rules :
             {card, ascii, jis, Rules{.nameMax = 60, .asciiOnly = true, .forJIS = true}}) {
            const std::string made = make(name, "x", rules);
            EXPECT_TRUE(!windowsForbidden().contains(made) && made != "." && made != "..")
                << name << " -> " << made;
        }
    }
    EXPECT_EQ(withSuffix("abcdefgh", " 2", Rules{.nameMax = 8}), "abcdef 2");
    // No space is left before the number.
    EXPECT_EQ(withSuffix("abcde fgh", " 12", Rules{.nameMax = 8}), "abcde 12");
    EXPECT_EQ(withSuffix("x", " 2", Rules{.nameMax = 2}), "_ 2");
    EXPECT_EQ(withSuffix(repeated("漢", 85), " 2", longest, ".mp3"), repeated("漢", 83) + " 2");
    EXPECT_EQ(cutToFileSystem(repeated("漢", 85), ".mp3"), repeated("漢", 83));
}

// Shift-JIS cards take the code page 932 twins of JIS forms, "_" for what has
// no code, and folder names padded to ten bytes with ideographic spaces.
TEST(SafeName, MapsAndPadsForJIS) {
    const std::vector<std::pair<std::string, std::string>> mapped = {
        {"\u301C\uFF5E\u2212\uFF0D\u2014\u2015\u00A5", "~~----\uFFE5"},    // and the yen sign
        {"\u00A2\uFFE0\u00A3\uFFE1\u00AC\uFFE2\u2016\u2225", "ccLL--__"},  // no "|" on a card
        {"e\u0301 \u304B\u3099\u6F22\uFF71\u2460", "_ \u304C\u6F22\uFF71\u2460"},  // NFC first
    };
    for (const auto& [input, expected] : mapped) {
        EXPECT_EQ(mapForJIS(input), expected) << input;
        EXPECT_TRUE(text::toCP932(mapForJIS(input)).has_value()) << input;
        EXPECT_EQ(text::scalarCount(mapForJIS(input)), text::scalarCount(text::nfc(input)));
    }
    EXPECT_EQ(padForJIS("\u00E9"), "\u00E9");  // not in CP932: unchanged
    EXPECT_EQ(padForJIS("\u3042"), "\u3042\u3000\u3000\u3000\u3000");
    EXPECT_EQ(padForJIS("a\u3042\u3044\u3046"), "a\u3042\u3044\u3046\u3000");
    EXPECT_EQ(padForJIS("\u3042\u3044\u3046\u3048\u304A"), "\u3042\u3044\u3046\u3048\u304A");
}

}  // namespace
}  // namespace tarvik::SafeName
