#include <gtest/gtest.h>

#include <QSignalSpy>

#include "App/Model/AppModel.hpp"
#include "App/Model/AppModelTesting.hpp"

namespace tarvik {
namespace {

using Kind = LogLine::Kind;

struct LogFixture {
    testing::ScopedXdg xdg;
    std::shared_ptr<bool> systemLowLoad = std::make_shared<bool>(false);
    std::function<void()> lowLoadChanged;
    AppModel model{withWatch(AppModelTesting::services(xdg, systemLowLoad))};

    AppModel::Services withWatch(AppModel::Services services) {
        services.watchSystemLowLoad = [this](std::function<void()> changed) {
            lowLoadChanged = std::move(changed);
        };
        return services;
    }

    void append(int count, const std::string& prefix = "line ") {
        for (int i = 0; i < count; ++i) model.appendLog(Kind::converted, prefix + std::to_string(i));
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const LogLine& line : model.log()) out.push_back(line.text);
        return out;
    }
};

TEST(AppModelLogTest, LinesGoStraightToTheLogUnlessARunConvertsInLowLoadMode) {
    struct Case {
        RunState state;
        bool manual;
        bool system;
        bool heldBack;
    };
    const std::vector<Case> cases = {
        {RunState::running(), false, false, false},
        {RunState::running(), true, false, true},
        {RunState::running(), false, true, true},
        {RunState::planning(), true, true, false},
        {RunState::idle(), true, false, false},
        {RunState::finished({}), false, true, false},
        {RunState::reviewing(), true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << static_cast<int>(c.state.kind) << c.manual << c.system);
        LogFixture f;
        f.model.setLowLoadManual(c.manual);
        *f.systemLowLoad = c.system;
        f.lowLoadChanged();
        AppModelTesting::setState(f.model, c.state);

        f.model.appendLog(Kind::error, "失敗\n理由");
        EXPECT_EQ(f.model.log().size(), c.heldBack ? 0u : 1u);
        EXPECT_EQ(AppModelTesting::pendingLines(f.model), c.heldBack ? 1u : 0u);
        f.model.flushPendingLog();
        ASSERT_EQ(f.model.log().size(), 1u);
        EXPECT_EQ(f.model.log()[0].kind, Kind::error);
        EXPECT_EQ(f.model.log()[0].text, "失敗\n理由");
        EXPECT_EQ(f.model.log()[0].id.size(), 36u);
    }
}

TEST(AppModelLogTest, TheLogKeepsTheNewestLinesFromTheFront) {
    LogFixture f;
    QSignalSpy trimmed(&f.model, &AppModel::logTrimmed);
    f.append(5000);
    EXPECT_EQ(trimmed.count(), 0);
    f.model.appendLog(Kind::notice, "newest");
    ASSERT_EQ(f.model.log().size(), 5000u);
    EXPECT_EQ(f.model.log().front().text, "line 1");
    EXPECT_EQ(f.model.log().back().text, "newest");
    ASSERT_EQ(trimmed.count(), 1);
    EXPECT_EQ(trimmed.at(0).at(0).value<qsizetype>(), 1);
    EXPECT_NE(f.model.log()[0].id, f.model.log()[1].id);
}

TEST(AppModelLogTest, AFlushMayPassTheLimitUntilTheNextLine) {
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
    }
}

TEST(AppModelLogTest, TheTimerFlushesEverySecondUntilTheRunIsOver) {
    LogFixture f;
    QSignalSpy appended(&f.model, &AppModel::logAppended);
    f.model.setLowLoadManual(true);
    AppModelTesting::setState(f.model, RunState::running());
    f.model.startFlushTimer();
    f.append(300);
    EXPECT_TRUE(f.model.log().empty());

    ASSERT_TRUE(testing::waitUntil([&] { return f.model.log().size() == 300; }));
    // One batch, not one change per line.
    ASSERT_EQ(appended.count(), 1);
    EXPECT_EQ(appended.at(0).at(0).value<qsizetype>(), 300);
    EXPECT_EQ(f.texts().back(), "line 299");

    // Switched off during the run: lines go straight in, and the timer still runs.
    f.model.setLowLoadManual(false);
    f.model.appendLog(Kind::notice, "direct");
    EXPECT_EQ(f.model.log().back().text, "direct");
    EXPECT_TRUE(AppModelTesting::flushTimerRuns(f.model));

    AppModelTesting::setState(f.model, RunState::finished({}));
    ASSERT_TRUE(testing::waitUntil([&] { return !AppModelTesting::flushTimerRuns(f.model); }));
}

TEST(AppModelLogTest, ClearingEmptiesTheLogAndWhatIsHeldBack) {
    LogFixture f;
    QSignalSpy cleared(&f.model, &AppModel::logCleared);
    f.append(2);
    f.model.setLowLoadManual(true);
    AppModelTesting::setState(f.model, RunState::running());
    f.append(2);
    AppModelTesting::clearLog(f.model);
    f.model.flushPendingLog();
    EXPECT_TRUE(f.model.log().empty());
    EXPECT_EQ(cleared.count(), 1);
}

}  // namespace
}  // namespace tarvik
