#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Core/Naming/SafeName.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/TextEncoding.hpp"

namespace tarvik::SafeName {
namespace {

const Rules card{
    .nameMax = 60, .asciiOnly = false, .forMac = false, .displayWidthMax = 0, .forJIS = false};

Rules with(void (*change)(Rules&)) {
    Rules rules = card;
    change(rules);
    return rules;
}

const Rules mac = with([](Rules& r) { r.forMac = true; });
const Rules ascii = with([](Rules& r) { r.asciiOnly = true; });
const Rules jis = with([](Rules& r) { r.forJIS = true; });
const Rules short8 = with([](Rules& r) { r.nameMax = 8; });
const Rules width10 = with([](Rules& r) { r.displayWidthMax = 10; });

struct MakeCase {
    std::string name;
    Rules rules;
    std::string expected;
};

TEST(SafeName, Make) {
    const std::vector<MakeCase> cases = {
        // fallbacks
        {"", card, "Fallback"},
        {"   ", card, "Fallback"},
        {" . .. ", card, "Fallback"},
        {" (Explicit)", card, "Fallback"},
        {"", with([](Rules& r) { r.nameMax = 5; }), "Fallb"},  // the fallback is cut too
        // forbidden characters
        {"A/B", card, "A_B"},
        {"A/B", mac, "A_B"},
        {"Why?", card, "Why_"},
        {"Why?", mac, "Why?"},
        {"a\\b:c*d\"e<f>g|h", card, "a_b_c_d_e_f_g_h"},
        {"tab\x01"
         "ctl",
         card, "tab_ctl"},
        // clean-up
        {"Song [Clean]", card, "Song"},
        {"a\u3000\u3000b", card, "a b"},
        {" .name. ", card, "name"},
        {"Cafe\u0301", card, "Caf\u00E9"},
        // ASCII folding
        {"Caf\u00E9", ascii, "Cafe"},
        {"\u65E5\u672C\u8A9E", ascii, "Fallback"},
        {"\uFF21\uFF22\uFF23", ascii, "ABC"},
        // length in scalars
        {"abcdefghij", short8, "abcdefgh"},
        {"\U0001F600bcdefghij", short8, "\U0001F600bcdefgh"},
        {"abcdefg hij", short8, "abcdefg"},  // the cut leaves a space, which goes
        // Shift-JIS mapping
        {"\u301C", jis, "~"},
        {"\u00E9", jis, "_"},
        {"\U0001F600", jis, "_"},
        {"\u2764\uFE0F", jis, "__"},
        {"\u3042\u301C\u3044", jis, "\u3042~\u3044"},
        // display width
        {"\u3042\u3044\u3046\u3048\u304A\u304B", width10, "\u3042\u3044\u3046\u3048\u304A"},
        {"\uFF71\uFF72\uFF73\uFF74\uFF75\uFF76\uFF77\uFF78\uFF79\uFF7A", width10,
         "\uFF71\uFF72\uFF73\uFF74\uFF75\uFF76\uFF77\uFF78\uFF79\uFF7A"},
        {"abcdefghi\u3042", width10, "abcdefghi"},
    };
    for (const MakeCase& c : cases) {
        EXPECT_EQ(make(c.name, "Fallback", c.rules), c.expected) << "[" << c.name << "]";
    }
}

// Folding full-width forms to ASCII must not bring back what the card
// forbids, nor make a name that walks out of its folder.
TEST(SafeName, FoldedNamesStaySafe) {
    const std::vector<MakeCase> cases = {
        {"\uFF0F\uFF0E\uFF0E\uFF0F\uFF0E\uFF0E\uFF0Fx", ascii, "_.._.._x"},
        {"\uFF21\uFF0F\uFF22", ascii, "A_B"},
        {"\uFF0E\uFF0E", ascii, "Fallback"},
        {"\uFF0E", ascii, "Fallback"},
        {"What\uFF1F", ascii, "What_"},
        {"\uFF41\uFF1A\uFF42", ascii, "a_b"},
        {"\uFF41\uFF1A\uFF42", with([](Rules& r) {
             r.asciiOnly = true;
             r.forMac = true;
         }),
         "a_b"},
    };
    for (const MakeCase& c : cases) {
        EXPECT_EQ(make(c.name, "Fallback", c.rules), c.expected) << "[" << c.name << "]";
    }
}

TEST(SafeName, NegativeNameMaxCountsAsZero) {
    EXPECT_EQ(make("abc", "Fallback", with([](Rules& r) { r.nameMax = -5; })), "_");
    EXPECT_EQ(make("abc", "Fallback", with([](Rules& r) { r.nameMax = 0; })), "_");
}

std::string repeated(std::string_view piece, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += piece;
    return text;
}

// The largest profile limit is 200 characters, but ext4 takes 255 bytes and
// exFAT 255 UTF-16 units: long names of wide characters are cut between
// grapheme clusters, and a name is never cut to nothing.
TEST(SafeName, MadeNamesFitTheFileSystemAndAreNeverEmpty) {
    const Rules longest = with([](Rules& r) { r.nameMax = 200; });
    const std::string family = "👨‍👩‍👧";  // one cluster, 18 bytes
    const std::string flag = "🇯🇵";                           // one cluster, 8 bytes
    const std::vector<MakeCase> cases = {
        {repeated("漢", 200), longest, repeated("漢", 85)},         // 3 bytes each
        {repeated("😀", 200), longest, repeated("😀", 63)},  // 4 bytes each
        {repeated(family, 20), longest, repeated(family, 14)},
        {"a" + repeated(flag, 40), longest, "a" + repeated(flag, 31)},
        {repeated("a", 200), longest, repeated("a", 200)},
        // The display width cuts a name that starts wide to nothing: the
        // fallback is cut by the same rules, and "_" stands in for nothing.
        {"あい", with([](Rules& r) { r.displayWidthMax = 1; }), "F"},
        {"あい", with([](Rules& r) { r.nameMax = 1; }), "あ"},
    };
    for (const MakeCase& c : cases) {
        const std::string made = make(c.name, "Fallback", c.rules);
        EXPECT_EQ(made, c.expected) << "[" << c.name << "]";
        EXPECT_LE(made.size(), fileSystemNameMax);
        EXPECT_LE(text::utf16Length(made), fileSystemNameMax);
    }
    EXPECT_EQ(make("あ", "不明", with([](Rules& r) { r.displayWidthMax = 1; })), "_");
    EXPECT_EQ(make("", "", card), "_");
}

TEST(SafeName, SuffixedNamesKeepWithinEveryLimit) {
    struct Case {
        std::string name;
        std::string suffix;
        Rules rules;
        std::string extension;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"Live", " 2", card, "", "Live 2"},
        {"abcdefgh", " 2", short8, "", "abcdef 2"},
        {"abcde fgh", " 12", short8, "", "abcde 12"},  // no space before the number is left
        {"あいうえお", " 2", width10, "", "あいうえ 2"},
        {repeated("漢", 85), " 2", with([](Rules& r) { r.nameMax = 200; }), ".mp3",
         repeated("漢", 83) + " 2"},
        {"x", " 2", with([](Rules& r) { r.nameMax = 2; }), "", "_ 2"},
    };
    for (const Case& c : cases) {
        const std::string result = withSuffix(c.name, c.suffix, c.rules, c.extension);
        EXPECT_EQ(result, c.expected) << "[" << c.name << "]";
        EXPECT_LE((result + c.extension).size(), fileSystemNameMax);
    }
    EXPECT_EQ(cutToFileSystem(repeated("漢", 85), ".mp3"), repeated("漢", 83));
    EXPECT_EQ(cutToFileSystem("short", ".mp3"), "short");
}

TEST(SafeName, MadeNamesAreNeverForbiddenOrDotNames) {
    const std::vector<std::string> hostile = {"../..",
                                              "/etc/passwd",
                                              "\uFF0F\uFF0E\uFF0E",
                                              ". ",
                                              "a/../b",
                                              "\u2016\u2225",
                                              "\\\\server\\share",
                                              "con:",
                                              "\x1F\x01",
                                              "\uFF3C\uFF0A\uFF02\uFF1C\uFF1E\uFF5C"};
    for (const std::string& name : hostile) {
        for (bool asciiOnly : {false, true}) {
            for (bool forJIS : {false, true}) {
                Rules rules = card;
                rules.asciiOnly = asciiOnly;
                rules.forJIS = forJIS;
                const std::string made = make(name, "x", rules);
                EXPECT_FALSE(windowsForbidden().contains(made)) << name << " -> " << made;
                EXPECT_NE(made, ".");
                EXPECT_NE(made, "..");
            }
        }
    }
}

TEST(SafeName, MapForJIS) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"\u301C\uFF5E\u2212\uFF0D\u2014\u2015", "~~----"},
        {"\u00A2\uFFE0\u00A3\uFFE1\u00AC\uFFE2", "ccLL--"},
        {"\u2016\u2225", "__"},  // a card cannot store "|"
        {"\u00A5100", "\uFFE5" "100"},  // the yen sign's code page 932 twin
        {"e\u0301", "_"},        // NFC first: é has no CP932 code
        {"\u304B\u3099", "\u304C"},
        {"\u6F22\u5B57 ABC \uFF71", "\u6F22\u5B57 ABC \uFF71"},
        {"\u2460\u2163", "\u2460\u2163"},
    };
    for (const auto& [input, expected] : cases) EXPECT_EQ(mapForJIS(input), expected) << input;
    // Every result is encodable and keeps the NFC text's scalar count.
    for (const auto& [input, expected] : cases) {
        EXPECT_TRUE(text::toCP932(mapForJIS(input)).has_value()) << input;
        EXPECT_EQ(text::scalarCount(mapForJIS(input)), text::scalarCount(text::nfc(input)));
    }
}

TEST(SafeName, PadForJIS) {
    const std::string ideographicSpace = "\u3000";
    auto spaces = [&](int n) {
        std::string out;
        for (int i = 0; i < n; ++i) out += ideographicSpace;
        return out;
    };
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"ABC", "ABC"},
        {"\u3042", "\u3042" + spaces(4)},
        {"\u3042\u3044\u3046", "\u3042\u3044\u3046" + spaces(2)},
        {"\u3042\u3044\u3046\u3048", "\u3042\u3044\u3046\u3048" + spaces(1)},
        {"a\u3042\u3044\u3046", "a\u3042\u3044\u3046" + spaces(1)},
        {"\u3042\u3044\u3046\u3048\u304A", "\u3042\u3044\u3046\u3048\u304A"},
        {"\u00E9", "\u00E9"},  // not in CP932: unchanged
    };
    for (const auto& [input, expected] : cases) {
        EXPECT_EQ(padForJIS(input), expected) << input;
        if (input.empty() || isASCII(input) || !text::toCP932(input)) continue;
        const std::size_t length = text::toCP932(padForJIS(input))->size();
        EXPECT_TRUE(length >= 9 && length <= 10) << input;
    }
}

}  // namespace
}  // namespace tarvik::SafeName
