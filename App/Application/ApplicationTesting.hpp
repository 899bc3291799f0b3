#pragma once
// For the application's tests and screenshot program only: the program's
// object on a model past the welcome sheet, whose licence item reveals into a
// list instead of a file manager (or, when told so, finds no desktop to do
// it). Header-only; test thread only.
#include <gtest/gtest.h>

#include <QAction>
#include <QFileDialog>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "App/Application/TarvikApp.hpp"
#include "App/Kit/Dialogs.hpp"
#include "App/MainWindow/MainWindow.hpp"
#include "App/Testing/WidgetTesting.hpp"

namespace tarvik::testing {

struct AppFixture {
    AppearanceScope appearance;
    ModelFixture f;
    std::vector<std::filesystem::path> revealed;
    bool desktopOpensFolders = true;  // false: no file manager, nothing opens folders
    std::unique_ptr<TarvikApp> app;

    explicit AppFixture(const std::function<void(Settings&)>& before = {},
                        const std::function<void(AppModel::Services&)>& adjust = {})
        : f(
              [&](Settings& settings) {
                  settings.setBoolean("onboarded", true);
                  if (before) before(settings);
              },
              false, adjust) {
        const auto reveal = [this](const std::filesystem::path& item) {
            revealed.push_back(item);
            return desktopOpensFolders;
        };
        app = std::make_unique<TarvikApp>(
            std::move(f.model),
            Licenses::Desktop{.showItem = reveal,
                              .openFolder = [this](const std::filesystem::path&) {
                                  return desktopOpensFolders;
                              }});
    }
    QAction* action(const char* menuName, const QString& text) {
        for (QAction* action : app->mainWindow().menuBar()->findChild<QMenu*>(menuName)->actions())
            if (action->text() == text) return action;
        ADD_FAILURE() << text.toStdString();
        return nullptr;
    }
    void press(const char* keys) { QTest::keySequence(&app->mainWindow(), QKeySequence(keys)); }
    void activate() {
        app->mainWindow().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&app->mainWindow()));
    }
    // Qt's own folder chooser as the program opens it, on screen.
    std::unique_ptr<QFileDialog> folderChooser() {
        std::unique_ptr<QFileDialog> chooser = Dialogs::folderDialog(
            &app->mainWindow(),
            {.message = "音楽のフォルダを選んでください", .start = f.xdg.data()});
        chooser->resize(760, 480);
        chooser->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(chooser.get()));
        return chooser;
    }
};

}  // namespace tarvik::testing
