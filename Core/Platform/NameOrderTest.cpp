#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Core/Platform/NameOrder.hpp"

namespace tarvik::text {
namespace {

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end(), NameLess{});
    return names;
}

TEST(NameOrder, LowerCaseBeforeUpperCaseBeforeNextLetter) {
    EXPECT_EQ(sorted({"b", "A", "a"}), (std::vector<std::string>{"a", "A", "b"}));
}

TEST(NameOrder, FollowsCollationNotBytes) {
    EXPECT_EQ(sorted({"Zeta", "\u00C9clair", "alpha", "Eclair"}),
              (std::vector<std::string>{"alpha", "Eclair", "\u00C9clair", "Zeta"}));
    EXPECT_EQ(sorted({"track10", "Track2", "track1"}),
              (std::vector<std::string>{"track1", "track10", "Track2"}));
    EXPECT_LT(compareNames("\u3042", "\u3044"), 0);  // あ before い
}

TEST(NameOrder, CanonicallyEquivalentNamesAreStillTotallyOrdered) {
    const std::string composed = "\u00E9";
    const std::string decomposed = "e\u0301";
    EXPECT_NE(compareNames(composed, decomposed), 0);
    EXPECT_EQ(compareNames(composed, decomposed), -compareNames(decomposed, composed));
    EXPECT_EQ(compareNames("same", "same"), 0);
}

}  // namespace
}  // namespace tarvik::text
