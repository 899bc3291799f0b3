#include <gtest/gtest.h>

#include <thread>

#include "Core/Platform/Regex.hpp"

namespace tarvik {
namespace {

TEST(Regex, OffsetsAndGroupsAreUTF8Bytes) {
    static const Regex pattern(R"((\d+)\s*-\s*(.+?)(x)?$)");
    auto match = pattern.firstMatch("\u3042 07 - \u66F2\u540D");
    ASSERT_TRUE(match);
    EXPECT_EQ(match->begin, 4U);  // after "あ "
    EXPECT_EQ(match->group(1), "07");
    EXPECT_EQ(match->group(2), "\u66F2\u540D");
    EXPECT_FALSE(match->groups[3].has_value());
    EXPECT_EQ(match->group(3), "");
    EXPECT_EQ(match->group(9), "");
}

TEST(Regex, ReplaceAllIsLiteralAndNonOverlapping) {
    static const Regex runs(R"(\s+)");
    EXPECT_EQ(runs.replaceAll(" a \t b\u3000\u3000c ", " "), " a b c ");
    EXPECT_EQ(runs.replaceAll("none", "_"), "none");
    static const Regex letter("a");
    EXPECT_EQ(letter.replaceAll("banana", "$1\\"), "b$1\\n$1\\n$1\\");
    static const Regex empty("x*");
    EXPECT_EQ(empty.replaceAll("ab", "-"), "-a-b-");
}

TEST(Regex, OnePatternServesManyThreads) {
    static const Regex pattern(R"(\s*[\[(](Explicit|Clean)[\])])", Regex::caseInsensitive);
    std::vector<std::jthread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 300; ++i)
                ASSERT_EQ(pattern.replaceAll("Song [Explicit] (clean)", ""), "Song");
        });
    }
}

}  // namespace
}  // namespace tarvik
