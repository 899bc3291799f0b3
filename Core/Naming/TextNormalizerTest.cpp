#include <gtest/gtest.h>

#include <set>
#include <tuple>
#include <vector>

#include "Core/Naming/TextNormalizer.hpp"

namespace tarvik::TextNormalizer {
namespace {

TEST(TextNormalizer, CleansTitlesAlbumsAndKeysAndComparesKeys) {
    const std::vector<std::tuple<std::string (*)(std::string_view), std::string, std::string>>
        cases = {
            {clean, "  Title (clean) [Explicit]  (Live)", "Title (Live)"},
            {clean, "a\u3000b \t\n Cafe\u0301", "a b Caf\u00E9"},
            {cleanTitle, "Remastering - Live - Remastered 2011", "Remastering - Live"},
            {cleanTitle, "Song (2011 Remaster) [Explicit]", "Song"},
            {cleanTitle, "- Remastered", "- Remastered"},  // the removal would leave nothing
            {cleanAlbum, "Album - EP", "Album"},
            {cleanAlbum, "Album - single", "Album - single"},  // case-sensitive
            {cleanAlbum, "Album - EP [Explicit]",
             "Album - EP"},  // the designation must end the text
            {stripBrackets, "Song [Live) x", "Song x"},
            {stripBrackets, "\u300C\u6620\u753B\u300D\u4E3B\u984C\u6B4C\uFF08\u30E9\uFF09",
             "\u4E3B\u984C\u6B4C"},
            {key, "\uFF34\uFF48\uFF45 \uFF22\uFF41\uFF4E\uFF44\uFF01 AC/DC 123 \u00E9",
             "thebandacdc123\u00E9"},
        };
    for (const auto& [function, input, expected] : cases)
        EXPECT_EQ(function(input), expected) << input;
    EXPECT_DOUBLE_EQ(similarity("!!!", "???"), 1.0);  // both keys empty
    EXPECT_DOUBLE_EQ(similarity("Song (feat. Guest)", "song"), 1.0);
    EXPECT_FALSE(similar("!!!", "!!!"));  // an empty key of x is never similar
    EXPECT_TRUE(similar("\uFF21\uFF22\uFF23", "abc!"));
    EXPECT_TRUE(similar("Yesterday", "Yesterdays"));  // ratio 18/19
    EXPECT_FALSE(similar("Help", "Hello"));
    EXPECT_TRUE(same("\uFF24\uFF41\uFF4E\uFF41 CAFE\u0301", "dana caf\u00E9!"));
    EXPECT_FALSE(same("Dana Westerberg", "Dana Westerburg"));  // similar, not the same
    EXPECT_FALSE(same("\u2161", "ii"));                        // Ⅱ is a number, ii a word
    EXPECT_FALSE(same("!!!", "!!!"));
}

// Another number or another version is another song, album or edition,
// however close the letters; remaster notes and a Single or EP designation
// tell nothing apart, since the clean-ups drop them anyway.
TEST(TextNormalizer, NumbersAndVersionsTellTextsApartWhateverTheirRatio) {
    // x, y, whether they differ
    const std::vector<std::tuple<std::string, std::string, bool>> cases = {
        {"Night Suite Part 1", "Night Suite Part 2", true},
        {"Greatest Hits Vol. 1", "Greatest Hits Vol. 2", true},
        {"Live in Tokyo 1986", "Live in Tokyo 1985", true},
        {"Symphony", "Symphony 2", true},
        {"Track 01", "track 1", false},
        {"\uFF30\uFF41\uFF52\uFF54\u3000\uFF11", "Part 1", false},  // full-width
        {"Shout (Live)", "Shout", true},
        {"Shout (Live)", "Shout - Live", false},
        {"Shout - Live at Massey Hall", "Shout [live]", false},
        {"Shout (Live Version)", "Shout (Live)", false},
        {"Shout (Single Version)", "Shout", true},
        {"Shout (Live)", "Shout (Live at Massey Hall, 1985)", true},
        {"Shout (Acoustic)", "Shout (Demo)", true},
        {"Shout (Remix)", "Shout (Remixed)", false},
        {"Shout (Radio Edit)", "Shout", true},
        {"Shout (Mono)", "Shout", true},
        {"Shout (Karaoke)", "Shout (カラオケ)", false},
        {"Shout (Instrumental)", "Shout (インストゥルメンタル)", false},
        {"\u96E8\uFF08\u30E9\u30A4\u30D6\uFF09", "\u96E8", true},  // 雨（ライブ）
        {"\u96E8 \u301CLive ver.\u301C", "\u96E8 (\u30E9\u30A4\u30F4)", false},
        {"\u96E8\uFF08\uFF8A\uFF9E\uFF70\uFF7C\uFF9E\uFF6E\uFF9D\uFF09", "\u96E8", true},
        {"Alive (Special Edition)", "Alive", false},  // no marker in either
        {"Live Forever", "Live Forever", false},      // a title, not a marker
        {"Shout (2011 Remaster)", "Shout", false},
        {"Shout - Remastered 2009", "Shout", false},
        {"Big Chair - EP", "Big Chair", false},
        {"Hi-Fi Love", "Hi-Fi Love (Live)", true},
        {"Still Alive", "Still Alive (Live)", true},  // a title, not a live take
        {"Still Alive (End Theme)", "Still Alive", false},
        // Numbers in every written form; one in one text and none in the other.
        {"Live at the Budokan II", "Live at the Budokan", true},
        {"Live at the Budokan II", "Live at the Budokan 2", false},
        {"Greatest Hits II", "Greatest Hits", true},
        {"Greatest Hits, Vol. II", "Greatest Hits, Vol. I", true},
        {"Night Two", "Night One", true},
        {"第二夜", "第一夜", true},
        {"第Ⅲ曲", "第Ⅱ曲", true},
        {"Suite Noir, Part III", "Suite Noir, Part II", true},
        {"Street Fighter II Turbo", "Street Fighter III Turbo", true},
        {"Rocky II Soundtrack", "Rocky III Soundtrack", true},
        {"Louis XIV Suite", "Louis XV Suite", true},
        {"第三楽章", "第四楽章", true},
        {"One Love", "Love", true},
        {"The First Cut", "The Cut", true},
    };
    for (const auto& [x, y, different] : cases) {
        EXPECT_EQ(differ(x, y), different) << x << " / " << y;
        EXPECT_EQ(differ(y, x), different) << y << " / " << x;
        if (different) {
            EXPECT_FALSE(similar(x, y)) << x << " / " << y;
            EXPECT_DOUBLE_EQ(similarity(x, y), 0.0) << x << " / " << y;
        }
    }
    EXPECT_DOUBLE_EQ(similarity("Shout (Live)", "Shout - Live"), 1.0);
    EXPECT_EQ(numbers("Vol. 007 (1,000)"), (std::vector<std::string>{"7", "1", "0"}));
    EXPECT_EQ(versions("Song (Live Version) - Remix"), (std::set<std::string>{"live", "remix"}));
}

// A number is its value, whatever its written form; words that only look
// like numerals hold none.
TEST(TextNormalizer, NumbersAreReadInEveryWrittenForm) {
    using Numbers = std::vector<std::string>;
    const std::vector<std::pair<std::string, Numbers>> cases = {
        {"Track 007 of 12", {"7", "12"}},
        {"\uFF30\uFF41\uFF52\uFF54\u3000\uFF12", {"2"}},  // full width
        {"Song \u0663", {"3"}},                           // Arabic-Indic digit
        {"Song \u2462 \u2777 \u3251", {"3", "2", "21"}},  // ③ ❷ ㉑
        {"Symphony \u216B", {"12"}},                      // Ⅻ
        {"\u2169\u2161", {"12"}},                         // Ⅹ Ⅱ as one numeral
        {"\u2161 Intro", {"2"}},                          // a Unicode numeral anywhere
        {"\u7B2C\u4E8C\u591C", {"2"}},                    // 第二夜
        {"\u7B2C\u4E8C\u5341\u4E00\u591C", {"21"}},       // 第二十一夜
        {"\u4E09\u767E\u4E94\u5341", {"350"}},            // 三百五十
        {"\u4E8C\u3007\u4E00\u4E5D", {"2019"}},           // 二〇一九
        {"\u4E00\u4E07\u4E8C\u5343", {"12000"}},          // 一万二千
        {"\u7B2C\u4E09\u697D\u7AE0", {"3"}},              // 第三楽章
        {"\u7B2CII\u7AE0", {"2"}},                        // 第II章
        {"Night Two", {"2"}},
        {"Twenty-One Guns", {"21"}},
        {"One Hundred and Five Days", {"105"}},
        {"One Two Three", {"1", "2", "3"}},
        {"The Twenty First Century", {"21"}},
        {"First Love", {"1"}},
        {"One Love", {"1"}},
        {"Someone Lonely Tonight", {}},
        {"Live at the Budokan II", {"2"}},
        {"Greatest Hits II (Deluxe)", {"2"}},
        {"Greatest Hits II: The Return", {"2"}},
        {"Vol. IV", {"4"}},
        {"vol. iv", {"4"}},
        {"Suite Noir, Part III", {"3"}},
        {"Part III The Return", {"3"}},
        {"Part I", {"1"}},
        {"No. I", {"1"}},
        {"Act V: Finale", {"5"}},
        {"Rocky IV", {"4"}},
        {"Street Fighter II Turbo", {"2"}},
        {"Louis XIV Suite", {"14"}},
        {"Chapter XL", {"40"}},
        // Guards: pronouns, words of numeral letters, letters of a name.
        {"I Will", {}},
        {"And I Love Her", {}},
        {"Who Am I", {}},
        {"No I Won't", {}},
        {"Every Night I Dream", {}},
        {"A Day in the Life", {}},
        {"Vivid", {}},
        {"Mix", {}},
        {"Song (Club Mix)", {}},
        {"SONG (CLUB MIX)", {}},
        {"Civil War", {}},
        {"Dim the Lights", {}},
        {"Malcolm X", {}},
        {"AC/DC", {}},
        {"Liv", {}},
        {"Still Alive", {}},
        {"IIII", {}},
        {"Song of the Century XL", {}},
        {"Dixie Mix", {}},
        {"DIXIE MIX", {}},
        {"VIVID DREAMS", {}},
        {"IIII Dreams", {}},
        {"I Dream", {}},
    };
    for (const auto& [input, expected] : cases) EXPECT_EQ(numbers(input), expected) << input;
}

}  // namespace
}  // namespace tarvik::TextNormalizer
