// Pictures of Qt's own dialogs as the program opens them, for a person to look
// at in light and dark (build/screenshots/): the folder chooser, the About
// box and the message of a desktop that cannot open the licences. They check
// nothing; TarvikAppTest checks that they speak Japanese.
#include <gtest/gtest.h>

#include <QMessageBox>

#include "App/Application/ApplicationTesting.hpp"
#include "App/Testing/Screenshots.hpp"

namespace tarvik {
namespace {

TEST(ApplicationScreenshots, FolderChooserAndAbout) {
    testing::AppFixture fx;
    const std::unique_ptr<QFileDialog> chooser = fx.folderChooser();
    const std::unique_ptr<QMessageBox> about =
        Dialogs::messageBox(&fx.app->mainWindow(), TarvikApp::aboutMessage());
    about->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about.get()));
    const std::unique_ptr<QMessageBox> licences = Dialogs::messageBox(
        &fx.app->mainWindow(),
        {.kind = Dialogs::Message::Kind::warning,
         .text = Licenses::notOpened,
         .informative = Licenses::notOpenedDetail("/usr/share/tarvik/Licenses")});
    licences->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(licences.get()));
    testing::inLightAndDark([&](const std::string& suffix) {
        testing::saveScreenshot(*chooser, "folder-chooser-" + suffix);
        testing::saveScreenshot(*about, "about-" + suffix);
        testing::saveScreenshot(*licences, "licences-not-opened-" + suffix);
    });
}

}  // namespace
}  // namespace tarvik
