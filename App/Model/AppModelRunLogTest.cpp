// The run log as export control writes it: planning's lines go when the run
// starts, each event of the run adds its line.
#include <gtest/gtest.h>

#include <algorithm>

#include "App/Model/ExportTesting.hpp"

namespace tarvik {
namespace {

using Ending = testing::ScriptedConverter::Ending;

class AppModelRunLogTest : public testing::ExportTest {};

TEST_F(AppModelRunLogTest, TheRunLogsEachConvertedAndFailedTrack) {
    converter.script("A02.flac", {Ending::fail});
    converter.script("B05.flac", {Ending::fail});
    auto model = makeModel();
    planToReview(*model);
    model->appendLog(LogLine::Kind::info, "planning");
    model->startConversion();
    model->handleEvent(ConversionEvent::failed("/elsewhere/x.flac", "読めません"));
    ASSERT_TRUE(waitForState(*model, RunState::Case::finished));

    const std::vector<std::string> log = logTexts(*model);
    const auto has = [&](const std::string& text) {
        return std::find(log.begin(), log.end(), text) != log.end();
    };
    EXPECT_FALSE(has("planning"));
    EXPECT_TRUE(has("[失敗] A02.flac\n    変換できません: A02.flac"));
    EXPECT_TRUE(has("[失敗] x.flac\n    読めません"));
    EXPECT_TRUE(has("変換 MUSIC/Band/A/01 Song A01.mp3")) << ::testing::PrintToString(log);
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& line) { return line.starts_with("変換 "); }),
              12);
}

}  // namespace
}  // namespace tarvik
