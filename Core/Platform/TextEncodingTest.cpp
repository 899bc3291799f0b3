#include <gtest/gtest.h>

#include "Core/Platform/TextEncoding.hpp"

namespace tarvik::text {
namespace {

TEST(TextEncoding, CP932IsStrict) {
    const std::vector<std::pair<std::string, std::optional<Bytes>>> cases = {
        {"", Bytes{}},
        {"AB\\~", Bytes{0x41, 0x42, 0x5C, 0x7E}},
        {"\u3042", Bytes{0x82, 0xA0}},  // hiragana a
        {"\u3000", Bytes{0x81, 0x40}},  // ideographic space
        {"\uFF5E", Bytes{0x81, 0x60}},  // full-width tilde
        {"\uFF71", Bytes{0xB1}},        // half-width katakana a
        {"\u2460", Bytes{0x87, 0x40}},  // circled one (NEC row 13)
        {"\u301C", std::nullopt},       // wave dash has no CP932 code
        {"\u00E9", std::nullopt},
        {"\u00A5", std::nullopt},  // no lossy yen-to-backslash
        {"\U0001F600", std::nullopt},
        {"\uFE0F", std::nullopt},  // ICU would drop it silently
        {"\u3042\uFE0F", std::nullopt},
        {"a\xFF", std::nullopt},  // ill-formed input
    };
    for (const auto& [text, bytes] : cases) EXPECT_EQ(toCP932(text), bytes) << text;
}

// Bytes read as code page 932 only when every sequence names a character
// anyone can read.
TEST(TextEncoding, CP932ReadsOnlyWhatItSpells) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"", ""},
        {"\x83\x65\x83\x58\x83\x67lib", "\u30C6\u30B9\u30C8lib"},  // テストlib
        {"\xB1\x5C", "\uFF71\\"},                                // half-width a, backslash
        {"caf\xE9", std::nullopt},   // a lead byte without its second byte
        {"Bj\xF6rk", std::nullopt},  // a user-defined character
        {"\xFF", std::nullopt},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(fromCP932(bytes), text) << bytes;
}

TEST(TextEncoding, JISFormsTakeTheirCP932Twins) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"Two \u301C\u5922\u301C", "Two \uFF5E\u5922\uFF5E"},
        {"\u2016\u2212\u00A2\u00A3\u00AC\u2014\u00A5",
         "\u2225\uFF0D\uFFE0\uFFE1\uFFE2\u2015\uFFE5"},
        {"\\~\uFF5E\u00E9", "\\~\uFF5E\u00E9"},  // everything else stays
        {"", ""},
    };
    for (const auto& [text, twins] : cases) EXPECT_EQ(withCP932Twins(text), twins) << text;
    // Every twin has a code of its own.
    EXPECT_TRUE(toCP932(withCP932Twins("\u2016\u2212\u00A2\u00A3\u00AC\u2014\u00A5")));
}

TEST(TextEncoding, Latin1TakesOnlyScalarsBelow256) {
    EXPECT_EQ(toLatin1("Caf\u00E9\u00FF"), (Bytes{'C', 'a', 'f', 0xE9, 0xFF}));
    EXPECT_EQ(toLatin1("\u0100"), std::nullopt);
}

TEST(TextEncoding, UTF8DecodingReplacesIllFormedSequences) {
    EXPECT_EQ(decodeUTF8(std::string_view("ok \u3042")), "ok \u3042");
    EXPECT_EQ(decodeUTF8(std::string_view("a\xFF"
                                          "b")),
              "a\uFFFDb");
    EXPECT_EQ(decodeUTF8(Bytes{0xE3, 0x81}), "\uFFFD");
    EXPECT_EQ(decodeUTF8(Bytes{0xED, 0xA0, 0x80}).find('\xED'), std::string::npos);  // surrogate
}

}  // namespace
}  // namespace tarvik::text
