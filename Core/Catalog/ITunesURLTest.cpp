#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "Core/Catalog/CatalogTesting.hpp"
#include "Core/Catalog/ITunesURL.hpp"

namespace tarvik::ITunesURL {
namespace {

constexpr const char* B = "http://127.0.0.1:8080/";

TEST(ITunesURL, DefaultBaseIsTheServiceOverHTTPS) {
    const std::string address = base();
    EXPECT_EQ(address, defaultBase);
    EXPECT_TRUE(address.starts_with("https://"));
    EXPECT_TRUE(address.ends_with("/"));
}

TEST(ITunesURL, PercentEncodeEscapesEveryByteButTheUnreservedOnes) {
    struct Case {
        std::string input, expected;
    };
    const std::vector<Case> cases = {
        {"あ", "%E3%81%82"},
        {"a+b&c=d/e%", "a%2Bb%26c%3Dd%2Fe%25"},
        {"-._~", "-._~"},
        {"", ""},
        {"A z", "A+z"},
        {"\U0001F600 x", "%F0%9F%98%80+x"},
        {"Caf\u00E9", "Caf%C3%A9"},
        {"\t\n!*'();:@$,?#[]", "%09%0A%21%2A%27%28%29%3B%3A%40%24%2C%3F%23%5B%5D"},
        {std::string("a\0b", 3), "a%00b"},
        {"\xFF", "%FF"},  // bytes pass through as bytes, even when not UTF-8
    };
    for (const Case& c : cases) EXPECT_EQ(percentEncode(c.input), c.expected) << c.input;
}

TEST(ITunesURL, AddressesAreByteExact) {
    testing::ScopedBase local(B);
    const std::string b = B;
    struct Case {
        std::string address, expected;
    };
    const std::vector<Case> cases = {
        {songSearch("Some Artist", "Song (Live)"),
         b + "search?term=Some+Artist+Song&entity=song&limit=10&country=JP&lang=ja_jp"},
        {albumSearch("X", "(Intro)"),
         b + "search?term=X+%28Intro%29&entity=album&limit=10&country=JP&lang=ja_jp"},
        {songSearch("", "T"), b + "search?term=+T&entity=song&limit=10&country=JP&lang=ja_jp"},
        {lookup(123), b + "lookup?id=123&entity=song&country=JP&lang=ja_jp"},
        {lookup(-5), b + "lookup?id=-5&entity=song&country=JP&lang=ja_jp"},
        {lookup(std::numeric_limits<std::int64_t>::min()),
         b + "lookup?id=-9223372036854775808&entity=song&country=JP&lang=ja_jp"},
        {songSearch("青い鳥楽団", "曲名（Live）"),
         b + "search?term=%E9%9D%92%E3%81%84%E9%B3%A5%E6%A5%BD%E5%9B%A3+%E6%9B%B2%E5%90%8D"
             "&entity=song&limit=10&country=JP&lang=ja_jp"},
        {albumSearch("青い鳥楽団", "𠮷野家の歌 「初回盤」"),
         b + "search?term=%E9%9D%92%E3%81%84%E9%B3%A5%E6%A5%BD%E5%9B%A3+%F0%A0%AE%B7%E9%87%8E"
             "%E5%AE%B6%E3%81%AE%E6%AD%8C&entity=album&limit=10&country=JP&lang=ja_jp"},
        // The artist is taken as given: neither trimmed nor cleaned.
        {songSearch(" A (x) ", "  T  "),
         b + "search?term=+A+%28x%29++T&entity=song&limit=10&country=JP&lang=ja_jp"},
        {url("p", {{"k y", "v&w"}, {"", ""}}), b + "p?k+y=v%26w&=&country=JP&lang=ja_jp"},
        {url("p", {}), b + "p?country=JP&lang=ja_jp"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.address, c.expected);
}

TEST(ITunesURL, ComposedAndDecomposedTitlesAreDifferentKeys) {
    const std::string composed = songSearch("A", "\u30AC");
    const std::string decomposed = songSearch("A", "\u30AB\u3099");
    EXPECT_NE(composed, decomposed);
    EXPECT_NE(composed.find("term=A+%E3%82%AC&"), std::string::npos);
    EXPECT_NE(decomposed.find("term=A+%E3%82%AB%E3%82%99&"), std::string::npos);
}

TEST(ITunesURL, SetBaseReturnsThePreviousOne) {
    const std::string before = base();
    {
        testing::ScopedBase local(B);
        EXPECT_EQ(setBase("http://127.0.0.1:1/"), B);
        EXPECT_TRUE(lookup(1).starts_with("http://127.0.0.1:1/lookup?"));
    }
    EXPECT_EQ(base(), before);
}

}  // namespace
}  // namespace tarvik::ITunesURL
