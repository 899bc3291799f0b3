// Qt's own folder chooser, made, first goes back to the folder where the last
// one was left, before the folder it is made for, and reads it on the window's
// thread. Left on a drive that has stopped answering since (a real FUSE drive
// whose daemon is stopped), by the chooser before or by Qt's settings, where
// any Qt program may leave it, that would hold the event loop for as long as
// the drive does not answer; the limit of a second is one that only such a
// call exceeds, whatever the machine's load.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileDialog>
#include <QSettings>
#include <QUrl>
#include <functional>
#include <utility>
#include <vector>

#include "App/Kit/Dialogs.hpp"
#include "App/Testing/AppTesting.hpp"
#include "App/Testing/FuseDaemon.hpp"
#include "App/Testing/LoopGaps.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(DialogsTest, AChooserNeverGoesBackOntoADriveThatStoppedAnswering) {
    std::string whyNot;
    const auto drive = testing::FuseMusicDrive::make({"Aoi"}, whyNot);
    if (!drive) GTEST_SKIP() << "no real FUSE card: " << whyNot;
    const testing::ScopedXdg xdg;  // Qt's settings of this process, when it first reads them
    const QString folder = QString::fromStdString(drive->music.string());
    // Qt's settings first: only the process's first chooser reads them.
    const std::vector<std::pair<const char*, std::function<void()>>> leftThere = {
        {"by Qt's settings",
         [&] {
             QSettings(QSettings::UserScope, QStringLiteral("QtProject"))
                 .setValue(QStringLiteral("FileDialog/lastVisited"),
                           QUrl::fromLocalFile(folder).toString());
         }},
        {"by the chooser before",
         [&] { Dialogs::folderDialog(nullptr, {.message = "", .start = drive->music}).reset(); }},
    };
    for (const auto& [how, leave] : leftThere) {
        SCOPED_TRACE(how);
        leave();
        const testing::LoopGaps gaps;
        const testing::StoppedDaemon stopped(drive->daemon, 10s);
        ASSERT_TRUE(stopped.stopped());
        std::unique_ptr<QFileDialog> chooser = Dialogs::folderDialog(nullptr, {});
        EXPECT_EQ(chooser->directory().absolutePath(), QDir::homePath());
        chooser.reset();
        EXPECT_LE(gaps.longest(), 1s);
    }
}

}  // namespace
}  // namespace tarvik
