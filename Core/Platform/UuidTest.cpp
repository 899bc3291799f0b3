#include <gtest/gtest.h>

#include "Core/Platform/Regex.hpp"
#include "Core/Platform/Uuid.hpp"

namespace tarvik {
namespace {

TEST(Uuid, CanonicalUpperCaseVersion4AndUnique) {
    static const Regex canonical(
        "^[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}$");
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        EXPECT_TRUE(canonical.matchesWhole(*seen.insert(makeUuid()).first));
    }
    EXPECT_EQ(seen.size(), 200U);
}

}  // namespace
}  // namespace tarvik
