// The destination on a real FUSE card whose daemon stops for longer than the
// check's deadline and then answers again, as a share or a USB disk spinning
// up does: the start waits for that late answer and goes on with it. The
// limits are generous beside the stop, so that only the fault, never a
// loaded machine, exceeds them.
#include <gtest/gtest.h>

#include "App/Model/ExportTesting.hpp"
#include "App/Testing/FuseDaemon.hpp"
#include "Core/Testing/CardImage.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;

class StalledDestinationTest : public testing::ExportTest {};

TEST_F(StalledDestinationTest, AStartWaitsForTheDestinationsLateAnswer) {
    std::string whyNot;
    const auto drive = testing::CardImage::make(8 << 20, whyNot, "CARD");
    if (!drive) GTEST_SKIP() << "no real FUSE card: " << whyNot;
    const std::optional<pid_t> daemon = testing::fuseDaemonServing(drive->root());
    ASSERT_TRUE(daemon) << "no daemon serves " << drive->root();
    auto model = makeModel();
    model->setSelected({"Band"});
    model->setDestPath(drive->root().string());
    ASSERT_TRUE(testing::settle(*model));
    ASSERT_TRUE(model->canExport()) << model->destinationRefusal().value_or("");
    // What the kernel keeps of the card's folders for a second is gone: the
    // start's check reaches the daemon.
    testing::waitUntil([] { return false; }, 1500ms);
    {
        // Three times the check's deadline, and then it answers again.
        const testing::StoppedDaemon stopped(*daemon, 3 * VolumeLooks::defaultDeadline);
        ASSERT_TRUE(stopped.stopped());
        model->startWhenChecked();
        EXPECT_TRUE(waitForState(*model, RunState::Case::reviewing, 20s))
            << model->destinationRefusal().value_or("") << model->state().message;
    }
}

}  // namespace
}  // namespace tarvik
