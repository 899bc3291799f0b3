#include <gtest/gtest.h>

#include "Core/Platform/Iso8601.hpp"

namespace tarvik::iso8601 {
namespace {

using namespace std::chrono;

TEST(Iso8601, FormatsUTCWholeSecondsAndReadsItBack) {
    const system_clock::time_point moment =
        sys_days{year{2026} / 12 / 6} + hours{19} + minutes{3} + seconds{8} + milliseconds{900};
    EXPECT_EQ(format(moment), "2026-12-06T19:03:08Z");
    EXPECT_EQ(parse("2026-12-06T19:03:08Z"), floor<seconds>(moment));
    EXPECT_EQ(parse("2026-12-07T04:03:08+09:00"), floor<seconds>(moment));
    EXPECT_EQ(parse("2026-12-06T18:33:08-00:30"), floor<seconds>(moment));
}

TEST(Iso8601, RefusesAnythingElse) {
    for (const char* text : {"", "2026-12-06", "2026-12-06T19:03:08", "2026-12-06T19:03:08.5Z",
                             "2026-02-30T00:00:00Z", "2026-12-06T24:00:00Z", "2026-12-06 19:03:08Z",
                             "2026-12-06T19:03:08+0900", "２026-12-06T19:03:08Z", "2026-12-06T19:03:08Zx"}) {
        EXPECT_FALSE(parse(text)) << text;
    }
}

}  // namespace
}  // namespace tarvik::iso8601
