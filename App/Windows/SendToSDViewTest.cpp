// The send window's widgets over the real card tools: what only the widgets
// do (the tree's ticks and marks, drags and drops, the buttons of each page)
// and the screenshots of the four pages. The state's own rules are tested
// without widgets in SendToSDStateTest and SendContentTest.
#include <gtest/gtest.h>

#include <QDragEnterEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QtTest>
#include <fstream>

#include "App/Kit/Dialogs.hpp"
#include "App/Kit/SymbolLabel.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "App/Windows/SendToSDTesting.hpp"
#include "App/Windows/SendToSDView.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::click;
using testing::waitUntil;

using testing::SendFixture;
using testing::writeAlbum;

TEST(SendToSDViewTest, WithoutACardNothingIsSentAndTheFailureGoesBackWithTheTicksKept) {
    SendFixture s(std::nullopt);
    s.tick("Aoi/First");
    EXPECT_FALSE(s.find<QPushButton>("sendButton")->isEnabled());
    EXPECT_TRUE(s.find("noCardLabel")->isVisible());
    EXPECT_TRUE(s.drop(s.exports / "Aoi"));
    ASSERT_TRUE(s.reaches("failedPage"));
    EXPECT_EQ(s.find<SymbolLabel>("failureMessage")->text()->text().toStdString(),
              SendContent::noCardForDrop);
    click(*s.view, "backToChoosingButton");
    ASSERT_TRUE(s.reaches("choosingPage"));
    EXPECT_EQ(s.item("Aoi/First")->checkState(0), Qt::Checked);
}

TEST(SendToSDViewTest, DroppedAlbumFolderIsSentAtOnce) {
    SendFixture s;
    s.gate->open();
    s.f.volumes->refuseEject(s.card, "使用中です");
    EXPECT_TRUE(s.drop(s.exports / "Bob" / "Live"));
    ASSERT_TRUE(s.reaches("finishedPage"));
    EXPECT_EQ(s.text("finishedHeadline"), "SD カードに入りました");
    EXPECT_EQ(s.text("finishedCounts"), "3 曲を写しました");
    EXPECT_TRUE(fs::is_regular_file(s.card / "Bob" / "Live" / "03.mp3"));
    EXPECT_FALSE(fs::exists(s.card / "Aoi"));
    EXPECT_FALSE(s.view->dropTargeted());

    // A refused eject keeps the window open and says why.
    click(*s.view, "ejectCardButton");
    EXPECT_TRUE(waitUntil([&] { return s.find("ejectError")->isVisible(); }));
    EXPECT_NE(s.find<SymbolLabel>("ejectError")->text()->text().indexOf("使用中です"), -1);
    EXPECT_EQ(s.closes, 0);
    EXPECT_EQ(s.model().ejectError(), std::nullopt);  // not told twice

    click(*s.view, "continueChoosingButton");
    ASSERT_TRUE(s.reaches("choosingPage"));
    EXPECT_TRUE(
        waitUntil([&] { return s.item("Bob/Live")->text(1).toStdString() == "SD にあり"; }));
}

TEST(SendToSDViewTest, DragsOfFilesLightTheWindowOtherUrlsDoNot) {
    SendFixture s;
    const QUrl file = QUrl::fromLocalFile(QString::fromStdString((s.exports / "Aoi").string()));
    for (const auto& [url, taken] :
         {std::pair{file, true}, std::pair{QUrl("https://example.invalid/Aoi"), false}}) {
        EXPECT_EQ(s.drag(url, false), taken) << url.toString().toStdString();
        EXPECT_EQ(s.view->dropTargeted(), taken);
        EXPECT_EQ(s.find("sendDropHighlight")->isVisible(), taken);
        QDragLeaveEvent leave;
        QApplication::sendEvent(s.view.get(), &leave);
        EXPECT_FALSE(s.view->dropTargeted());
    }
}

TEST(SendToSDViewTest, WhileSendingClosingIsRefused) {
    SendFixture s;
    s.tick("Aoi/First");
    click(*s.view, "sendButton");
    ASSERT_TRUE(s.reaches("sendingPage"));
    EXPECT_TRUE(waitUntil([&] {
        return s.find<QLabel>("sendingText")->toolTip().toStdString() ==
               "写しています 0 / 2\u300001.mp3";
    }));

    // The state refuses drops meanwhile (SendToSDStateTest); the window, closing.
    QPushButton* close = s.find<QPushButton>("sendCloseButton");
    EXPECT_FALSE(close->isEnabled());

    click(*s.view, "cancelSendButton");
    ASSERT_TRUE(s.reaches("finishedPage"));
    EXPECT_TRUE(close->isEnabled());
    s.view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(s.view.get()));
    QTest::keyClick(s.view.get(), Qt::Key_Escape);
    EXPECT_TRUE(waitUntil([&] { return s.closes == 1; }));
    click(*s.view, "ejectCardButton");  // closes once the card is out
    EXPECT_TRUE(waitUntil([&] { return s.closes == 2; }));
}

TEST(SendToSDViewTest, ChosenFolderBecomesTheSource) {
    SendFixture s;
    const fs::path other = s.temp.path() / "other";
    writeAlbum(other / "Cai" / "Solo", 1, 10);
    Dialogs::Script script;
    script.answerFolder(other);
    click(*s.view, "chooseSourceButton");
    // Opened once a worker found that the source answers.
    ASSERT_TRUE(waitUntil([&] { return !script.folderRequests().empty(); }));
    ASSERT_EQ(script.folderRequests().size(), 1U);
    EXPECT_EQ(script.folderRequests()[0].start, s.exports);
    EXPECT_TRUE(waitUntil([&] { return s.state().albums().size() == 1U; }));
    EXPECT_EQ(s.model().sendSource(), other.string());
    EXPECT_EQ(s.find<QPushButton>("chooseSourceButton")->text().toStdString(), "変更…");
}

TEST(SendToSDViewTest, TheWheelChangesNoCard) {
    SendFixture s;
    const fs::path second = s.temp.path() / "media" / "SD2";
    fs::create_directories(second);
    s.f.volumes->listAsCard(second);
    s.f.volumes->add(testing::FixtureVolumes::card(second, 1'000'000));
    s.model().refreshVolumes();
    ASSERT_TRUE(waitUntil([&] { return s.find<QComboBox>("cardPicker")->count() == 2; }));
    const std::string card = s.state().cardPath();
    testing::expectWheelLeavesPickers(*s.view);
    EXPECT_EQ(s.state().cardPath(), card);
}

// The choosing page with an album on the card and one being exported, at the
// window's default and smallest sizes, then each page after it.
TEST(SendToSDViewTest, ChoosingFitsEverySizeAndEachPageFollows) {
    SendFixture s(2500);
    s.oneOnTheCardAndOneBeingWritten();
    EXPECT_FALSE(s.item("Aoi")->isExpanded());
    EXPECT_FALSE(s.item("Aoi/Second")->flags().testFlag(Qt::ItemIsEnabled));
    EXPECT_EQ(s.item("Aoi/Second")->text(1).toStdString(), "書き出し中");
    EXPECT_FALSE(s.find("sendButton")->isEnabled());  // nothing ticked
    // The artist's tick takes only the group's selectable albums.
    s.tickAoiAndBobLive();
    EXPECT_EQ(s.state().picked(), (std::set<std::string>{"Aoi/First", "Bob/Live"}));
    EXPECT_EQ(s.item("Aoi/Second")->checkState(0), Qt::Unchecked);
    EXPECT_EQ(s.text("selectionText"), "選択: 2 アルバム・5 曲・3 KB");
    EXPECT_TRUE(s.find("freeSpaceWarning")->isVisible());
    // At the size the window opens with and at its smallest, the list ends
    // above the selection bar, the bar above the footer, and no text is cut.
    for (const auto& [size, name] :
         {std::pair{s.view->sizeHint(), "default"}, {s.view->minimumSizeHint(), "minimum"}}) {
        EXPECT_GE(size.width(), 760);
        EXPECT_GE(size.height(), 600);
        s.view->resize(size);
        QApplication::processEvents();
        const auto at = [&](const char* child) {
            QWidget* widget = s.find(child);
            return QRect(widget->mapTo(s.view.get(), QPoint(0, 0)), widget->size());
        };
        EXPECT_LT(at("albumTree").bottom(), at("selectionText").top()) << name;
        EXPECT_LT(at("albumTree").bottom(), at("sendButton").top()) << name;
        EXPECT_LT(at("sendButton").bottom(), at("sendCloseButton").top()) << name;
        testing::expectNothingClipped(*s.view, name);
    }
    s.view->resize(820, 760);

    // The export finishes the album: it can be ticked now, and the artist is no longer all ticked.
    EXPECT_EQ(s.item("Aoi")->checkState(0), Qt::Checked);
    AppModelTesting::setWritingFolders(s.model(), {});
    EXPECT_TRUE(waitUntil([&] { return !s.find("busyNotice")->isVisible(); }));
    EXPECT_EQ(s.item("Aoi")->checkState(0), Qt::Unchecked);
    EXPECT_TRUE(s.item("Aoi/Second")->flags().testFlag(Qt::ItemIsEnabled));

    std::ofstream(s.card / "._01.mp3") << "x";
    click(*s.view, "sendButton");  // the free-space warning does not stop a send
    ASSERT_TRUE(s.reaches("sendingPage"));
    s.gate->open();
    ASSERT_TRUE(s.reaches("finishedPage"));
    s.drop(s.card);  // the card itself: ignored
    s.drop(s.music);
    ASSERT_TRUE(s.reaches("failedPage"));
}

}  // namespace
}  // namespace tarvik
