#include <gtest/gtest.h>

#include "Core/Platform/NameOrder.hpp"

namespace tarvik::text {
namespace {

// Collation, not bytes: lower case before upper case before the next letter,
// accents after the plain letter, digits as characters.
TEST(NameOrder, FollowsCollation) {
    const std::vector<std::vector<std::string>> orders = {
        {"a", "A", "b"},
        {"alpha", "Eclair", "\u00C9clair", "Zeta"},
        {"track1", "track10", "Track2"},
        {"\u3042", "\u3044"},  // あ before い
    };
    for (const auto& order : orders) {
        std::vector<std::string> names(order.rbegin(), order.rend());
        std::sort(names.begin(), names.end(), NameLess{});
        EXPECT_EQ(names, order);
    }
}

TEST(NameOrder, CanonicallyEquivalentNamesAreStillTotallyOrdered) {
    EXPECT_NE(compareNames("\u00E9", "e\u0301"), 0);
    EXPECT_EQ(compareNames("\u00E9", "e\u0301"), -compareNames("e\u0301", "\u00E9"));
    EXPECT_EQ(compareNames("same", "same"), 0);
}

}  // namespace
}  // namespace tarvik::text
