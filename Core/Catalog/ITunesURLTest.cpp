#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Core/Catalog/CatalogTesting.hpp"
#include "Core/Catalog/ITunesURL.hpp"

namespace tarvik::ITunesURL {
namespace {

TEST(ITunesURL, PercentEncodeEscapesEveryByteButTheUnreservedOnes) {
    struct Case {
        std::string input, expected;
    };
    const std::vector<Case> cases = {
        {"あ", "%E3%81%82"},
        {"a+b&c=d/e%", "a%2Bb%26c%3Dd%2Fe%25"},
        {"\U0001F600 x", "%F0%9F%98%80+x"},
        {"\xFF", "%FF"},  // bytes pass through as bytes, even when not UTF-8
    };
    for (const Case& c : cases) EXPECT_EQ(percentEncode(c.input), c.expected) << c.input;
}

TEST(ITunesURL, AddressesAreByteExact) {
    const std::string b = "http://127.0.0.1:8080/";
    testing::ScopedBase local(b);
    const std::string tail = "&limit=10&country=JP&lang=ja_jp";
    struct Case {
        std::string address, expected;
    };
    const std::vector<Case> cases = {
        {songSearch("Some Artist", "Song (Live)"),
         b + "search?term=Some+Artist+Song&entity=song" + tail},
        {albumSearch("X", "(Intro)"), b + "search?term=X+%28Intro%29&entity=album" + tail},
        {lookup(123), b + "lookup?id=123&entity=song&country=JP&lang=ja_jp"},
        {songSearch("青い鳥楽団", "曲名（Live）"),
         b +
             "search?term=%E9%9D%92%E3%81%84%E9%B3%A5%E6%A5%BD%E5%9B%A3+%E6%9B%B2%E5%90%8D"
             "&entity=song" +
             tail},
        {albumSearch("青い鳥楽団", "𠮷野家の歌 「初回盤」"),
         b +
             "search?term=%E9%9D%92%E3%81%84%E9%B3%A5%E6%A5%BD%E5%9B%A3+%F0%A0%AE%B7%E9%87%8E"
             "%E5%AE%B6%E3%81%AE%E6%AD%8C&entity=album" +
             tail},
        // The artist is taken as given: neither trimmed nor cleaned.
        {songSearch(" A (x) ", "  T  "), b + "search?term=+A+%28x%29++T&entity=song" + tail},
        {url("p", {{"k y", "v&w"}}), b + "p?k+y=v%26w&country=JP&lang=ja_jp"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.address, c.expected);
}

}  // namespace
}  // namespace tarvik::ITunesURL
