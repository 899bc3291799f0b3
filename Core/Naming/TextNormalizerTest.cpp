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
    EXPECT_EQ(versions("Song (Live Version) - Remix"),
              (std::set<std::string>{"live", "remix"}));
}

}  // namespace
}  // namespace tarvik::TextNormalizer
