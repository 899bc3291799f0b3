#include <gtest/gtest.h>

#include "Core/Platform/Iso8601.hpp"

namespace tarvik::iso8601 {
namespace {

using namespace std::chrono;

// UTC whole seconds out; only full date-times with a zone read back in.
TEST(Iso8601, FormatsUTCWholeSecondsAndReadsOnlyThatShape) {
    const auto moment = sys_days{year{2026} / 12 / 6} + 19h + 3min + 8s + 900ms;
    EXPECT_EQ(format(moment), "2026-12-06T19:03:08Z");
    for (const char* text :
         {"2026-12-06T19:03:08Z", "2026-12-07T04:03:08+09:00", "2026-12-06T18:33:08-00:30"}) {
        EXPECT_EQ(parse(text), floor<seconds>(moment)) << text;
    }
    for (const char* text :
         {"", "2026-12-06", "2026-12-06T19:03:08", "2026-12-06T19:03:08.5Z", "2026-02-30T00:00:00Z",
          "2026-12-06T24:00:00Z", "2026-12-06 19:03:08Z", "2026-12-06T19:03:08+0900",
          "２026-12-06T19:03:08Z", "2026-12-06T19:03:08Zx",
          // Beyond what the clock's 64-bit nanoseconds hold.
          "1677-01-01T00:00:00Z", "0001-01-01T00:00:00Z", "2263-01-01T00:00:00Z",
          "9999-12-31T23:59:59Z"}) {
        EXPECT_FALSE(parse(text)) << text;
    }
    EXPECT_EQ(parse("1700-01-01T00:00:00Z"), sys_days{year{1700} / 1 / 1});
    EXPECT_EQ(parse("2262-01-01T00:00:00Z"), sys_days{year{2262} / 1 / 1});
}

}  // namespace
}  // namespace tarvik::iso8601
