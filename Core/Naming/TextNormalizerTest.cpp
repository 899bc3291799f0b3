#include <gtest/gtest.h>

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
    EXPECT_DOUBLE_EQ(similarity("Song (Live)", "song"), 1.0);
    EXPECT_FALSE(similar("!!!", "!!!"));  // an empty key of x is never similar
    EXPECT_TRUE(similar("\uFF21\uFF22\uFF23", "abc!"));
    EXPECT_TRUE(similar("Yesterday", "Yesterdays"));  // ratio 18/19
    EXPECT_FALSE(similar("Help", "Hello"));
}

}  // namespace
}  // namespace tarvik::TextNormalizer
