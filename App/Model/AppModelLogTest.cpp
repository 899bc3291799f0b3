#include <gtest/gtest.h>

#include <QSignalSpy>

#include "App/Model/AppModel.hpp"
#include "App/Model/AppModelTesting.hpp"

namespace tarvik {
namespace {

using Kind = LogLine::Kind;

using LogFixture = testing::LowLoadModel;

// The cap of 5,000 lines drops from the front (the log panel's test); a flush
// may pass it until the next line comes, which trims it in one step.
TEST(AppModelLogTest, TheLogKeepsTheNewestLines) {
    for (const bool nextHeldBack : {false, true}) {
        SCOPED_TRACE(nextHeldBack);
        LogFixture f;
        f.append(4990, "old ");
        f.model.setLowLoadManual(true);
        AppModelTesting::setState(f.model, RunState::running());
        f.append(20, "held ");
        f.model.flushPendingLog();
        EXPECT_EQ(f.model.log().size(), 5010u);

        f.model.setLowLoadManual(nextHeldBack);
        f.model.appendLog(Kind::converted, "next");
        ASSERT_EQ(f.model.log().size(), 5000u);
        EXPECT_EQ(f.model.log().front().text, nextHeldBack ? "old 10" : "old 11");
        EXPECT_EQ(f.model.log().back().text, nextHeldBack ? "held 19" : "next");
        EXPECT_NE(f.model.log()[0].id, f.model.log()[1].id);
    }
}

// Lines are held back only while a run converts in low-load mode, the desktop's
// or the user's (the cap's test switches the user's).
TEST(AppModelLogTest, TheTimerFlushesInBatchesUntilTheRunIsOverAndClearingDropsTheHeldLines) {
    LogFixture f;
    QSignalSpy appended(&f.model, &AppModel::logAppended);
    *f.systemLowLoad = true;
    f.lowLoadChanged();
    AppModelTesting::setState(f.model, RunState::planning());
    f.model.appendLog(Kind::info, "planning");
    EXPECT_EQ(f.model.log().size(), 1U);
    AppModelTesting::clearLog(f.model);
    AppModelTesting::setState(f.model, RunState::running());
    f.model.startFlushTimer();
    f.append(300);
    EXPECT_TRUE(f.model.log().empty());

    ASSERT_TRUE(testing::waitUntil([&] { return f.model.log().size() == 300; }));
    // One batch, not one change per line.
    ASSERT_EQ(appended.count(), 2);
    EXPECT_EQ(appended.at(1).at(0).value<qsizetype>(), 300);
    EXPECT_EQ(f.model.log().back().text, "line 299");

    // Switched off during the run: lines go straight in, and the timer still runs.
    *f.systemLowLoad = false;
    f.lowLoadChanged();
    f.model.appendLog(Kind::notice, "direct");
    EXPECT_EQ(f.model.log().back().text, "direct");
    EXPECT_TRUE(AppModelTesting::flushTimerRuns(f.model));

    f.model.setLowLoadManual(true);
    f.append(2);
    AppModelTesting::clearLog(f.model);
    f.model.flushPendingLog();
    EXPECT_TRUE(f.model.log().empty());

    AppModelTesting::setState(f.model, RunState::finished({}));
    ASSERT_TRUE(testing::waitUntil([&] { return !AppModelTesting::flushTimerRuns(f.model); }));
    f.model.appendLog(Kind::notice, "after");
    EXPECT_EQ(f.model.log().size(), 1U);
}

}  // namespace
}  // namespace tarvik
