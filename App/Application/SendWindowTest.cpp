#include <gtest/gtest.h>

#include <QtTest>

#include "App/Application/SendWindow.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "App/Windows/SendToSDTesting.hpp"
#include "App/Windows/SendToSDView.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::waitUntil;

TEST(SendWindowTest, TitleBarClosesTheWindowOnlyWhenNoSendRuns) {
    testing::TempDir temp;
    const fs::path album = temp.path() / "out" / "Aoi" / "First";
    const fs::path card = temp.path() / "SD";
    testing::writeFile(album / "01.mp3", "x");
    fs::create_directories(card);
    testing::ModelFixture f;
    f.volumes->listAsCard(card);
    f.volumes->add(testing::FixtureVolumes::card(card));
    f.model->refreshVolumes();
    f.settled();

    auto gate = std::make_shared<testing::Gate>();  // the copy waits until the test opens it
    std::unique_ptr<QWidget> window(SendWindow::create(*f.model, testing::gatedTools(gate)));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    auto* view = window->findChild<SendToSDView*>();
    ASSERT_NE(view, nullptr);

    EXPECT_TRUE(view->state().handleDrop({album}));
    ASSERT_TRUE(waitUntil([&] { return view->state().sending(); }));
    EXPECT_FALSE(window->close());
    emit view->state().closeRequested();  // as an eject that ends does
    EXPECT_TRUE(window->isVisible());

    gate->open();
    EXPECT_TRUE(waitUntil([&] { return !view->state().sending(); }));
    EXPECT_TRUE(fs::is_regular_file(card / "Aoi" / "First" / "01.mp3"));
    EXPECT_TRUE(window->close());
}

}  // namespace
}  // namespace tarvik
