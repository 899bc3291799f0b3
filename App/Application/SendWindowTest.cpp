#include <gtest/gtest.h>

#include <QtTest>
#include <atomic>
#include <fstream>
#include <thread>

#include "App/Application/SendWindow.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "App/Windows/SendToSDView.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

TEST(SendWindowTest, TitleBarClosesTheWindowOnlyWhenNoSendRuns) {
    testing::TempDir temp;
    const fs::path album = temp.path() / "out" / "Aoi" / "First";
    const fs::path card = temp.path() / "SD";
    fs::create_directories(album);
    fs::create_directories(card);
    std::ofstream(album / "01.mp3") << "x";
    testing::ModelFixture f;
    f.volumes->cards.insert(card);
    f.volumes->add(testing::FixtureVolumes::card(card));
    f.model->refreshVolumes();

    // The copy waits until the test lets it go.
    auto go = std::make_shared<std::atomic_bool>(false);
    SendToSDState::Tools tools = SendToSDState::Tools::standard();
    tools.send = [go, real = tools.send](
                     const std::vector<SendToSDState::Album>& albums, const fs::path& root,
                     const SDCardTools::SendProgress& progress, std::stop_token stop) {
        while (!*go && !stop.stop_requested())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return real(albums, root, progress, stop);
    };
    std::unique_ptr<QWidget> window(SendWindow::create(*f.model, tools));
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    auto* view = window->findChild<SendToSDView*>();
    ASSERT_NE(view, nullptr);

    EXPECT_TRUE(view->state().handleDrop({album}));
    QTRY_VERIFY(view->state().sending());
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());

    *go = true;
    QTRY_VERIFY_WITH_TIMEOUT(!view->state().sending(), 10000);
    EXPECT_TRUE(fs::is_regular_file(card / "Aoi" / "First" / "01.mp3"));
    EXPECT_TRUE(window->close());
    EXPECT_FALSE(window->isVisible());
}

}  // namespace
}  // namespace tarvik
