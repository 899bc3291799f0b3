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
#include "App/Testing/Screenshots.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "App/Windows/SendToSDTesting.hpp"
#include "App/Windows/SendToSDView.hpp"
#include "App/Kit/SymbolLabel.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::click;
using testing::waitUntil;

void writeAlbum(const fs::path& folder, int files, int bytesEach) {
    for (int index = 1; index <= files; ++index)
        testing::writeFile(folder / ("0" + std::to_string(index) + ".mp3"),
                           std::string(bytesEach, 'x'));
}

// The window on an export folder of three albums (Aoi/First 2 × 1000 bytes,
// Aoi/Second, Bob/Live 3 × 300 bytes) with a fixture card of `cardFree` bytes
// free, or none; the real card tools copy, each send waiting at `gate` once it
// has told of its first file.
struct SendFixture {
    testing::TempDir temp;
    fs::path music = temp.path() / "Music";
    fs::path exports = temp.path() / "タルヴィク";
    fs::path card = temp.path() / "media" / "SD";
    testing::ModelFixture f;
    std::shared_ptr<testing::Gate> gate = std::make_shared<testing::Gate>();
    int closes = 0;
    std::unique_ptr<SendToSDView> view;

    explicit SendFixture(std::optional<std::int64_t> cardFree = 1'000'000)
        : f([this](Settings& settings) {
              // The folders exist before the model checks its destination.
              fs::create_directories(music);
              fs::create_directories(card);
              writeAlbum(exports / "Aoi" / "First", 2, 1000);
              writeAlbum(exports / "Aoi" / "Second", 1, 500);
              writeAlbum(exports / "Bob" / "Live", 3, 300);
              settings.setString("srcPath", music.string());
              settings.setString("destPath", exports.string());
              settings.setString("sendSource", exports.string());
          }) {
        if (cardFree) {
            f.volumes->cards.insert(card);
            f.volumes->add(testing::FixtureVolumes::card(card, *cardFree));
            model().refreshVolumes();
        }
        view = std::make_unique<SendToSDView>(
            model(), [this] { ++closes; }, testing::gatedTools(gate));
        view->resize(820, 760);
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        EXPECT_TRUE(waitUntil([this] {
            return state().albums().size() == 3 && !state().loading() &&
                   find<QTreeWidget>("albumTree")->topLevelItemCount() == 2;
        }));
    }

    AppModel& model() { return *f.model; }
    SendToSDState& state() { return view->state(); }
    template <typename T = QWidget>
    T* find(const char* name) {
        return testing::child<T>(*view, name);
    }
    std::string text(const char* label) { return testing::labelText(*view, label); }
    // Waits until the window shows the page of that name; whether it came.
    bool reaches(const char* page) {
        return waitUntil([&] {
            return find<QStackedWidget>("sendPages")->currentWidget()->objectName() == page;
        });
    }
    // The artist row named `id`, or the album row of that relative path (album names differ).
    QTreeWidgetItem* item(const std::string& id) {
        const QString name = QString::fromStdString(id.substr(id.rfind('/') + 1));
        const QList<QTreeWidgetItem*> found =
            find<QTreeWidget>("albumTree")->findItems(name, Qt::MatchExactly | Qt::MatchRecursive);
        EXPECT_EQ(found.size(), 1) << id;
        return found.value(0);
    }
    void tick(const std::string& id) {
        item(id)->setCheckState(0, Qt::Checked);
        QApplication::processEvents();
    }
    // Drags `url` in and, unless `dropIt` is false, drops it; whether the window took it.
    bool drag(const QUrl& url, bool dropIt = true) {
        QMimeData mime;
        mime.setUrls({url});
        QDragEnterEvent enter(QPoint(40, 40), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(view.get(), &enter);
        if (!dropIt) return enter.isAccepted();
        QDropEvent dropped(QPointF(40, 40), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.get(), &dropped);
        return dropped.isAccepted();
    }
    bool drop(const fs::path& path) {
        return drag(QUrl::fromLocalFile(QString::fromStdString(path.string())));
    }
};

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

TEST(SendToSDViewTest, WhileSendingDropsAndClosingAreRefused) {
    SendFixture s;
    s.tick("Aoi/First");
    click(*s.view, "sendButton");
    ASSERT_TRUE(s.reaches("sendingPage"));
    EXPECT_TRUE(waitUntil([&] {
        return s.find<QLabel>("sendingText")->toolTip().toStdString() ==
               "写しています 0 / 2\u300001.mp3";
    }));

    EXPECT_FALSE(s.drop(s.exports / "Bob" / "Live"));
    QPushButton* close = s.find<QPushButton>("sendCloseButton");
    EXPECT_FALSE(close->isEnabled());

    // "中止" ends on a page that says the send was stopped, not on the success page.
    click(*s.view, "cancelSendButton");
    ASSERT_TRUE(s.reaches("finishedPage"));
    EXPECT_EQ(s.text("finishedHeadline"), "中止しました");
    EXPECT_EQ(s.text("finishedCounts"), "0 曲を写しました");
    EXPECT_FALSE(fs::exists(s.card / "Bob"));  // the refused drop sent nothing
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
    s.f.volumes->cards.insert(second);
    s.f.volumes->add(testing::FixtureVolumes::card(second, 1'000'000));
    s.model().refreshVolumes();
    ASSERT_TRUE(waitUntil([&] { return s.find<QComboBox>("cardPicker")->count() == 2; }));
    const std::string card = s.state().cardPath();
    testing::expectWheelLeavesPickers(*s.view);
    EXPECT_EQ(s.state().cardPath(), card);
}

// The pages one after the other, each checked and shot in light and dark.
TEST(SendToSDViewTest, ScreenshotsLightAndDark) {
    SendFixture s(2500);
    const auto shoot = [&](const std::string& page) {
        testing::inLightAndDark([&](const std::string& suffix) {
            testing::saveScreenshot(*s.view, "send-" + page + "-" + suffix);
        });
    };
    writeAlbum(s.card / "Bob" / "Live", 3, 300);
    s.state().refreshOnCard();
    AppModelTesting::setWritingFolders(s.model(), {"Aoi/Second"});
    EXPECT_TRUE(waitUntil([&] { return s.find("busyNotice")->isVisible(); }));
    EXPECT_FALSE(s.item("Aoi")->isExpanded());
    EXPECT_FALSE(s.item("Aoi/Second")->flags().testFlag(Qt::ItemIsEnabled));
    EXPECT_EQ(s.item("Aoi/Second")->text(1).toStdString(), "書き出し中");
    EXPECT_FALSE(s.find("sendButton")->isEnabled());  // nothing ticked
    // The artist's tick takes only the group's selectable albums.
    s.tick("Aoi");
    s.tick("Bob/Live");
    EXPECT_EQ(s.state().picked(), (std::set<std::string>{"Aoi/First", "Bob/Live"}));
    EXPECT_EQ(s.item("Aoi/Second")->checkState(0), Qt::Unchecked);
    EXPECT_EQ(s.text("selectionText"), "選択: 2 アルバム・5 曲・3 KB");
    EXPECT_TRUE(s.find("freeSpaceWarning")->isVisible());
    s.item("Aoi")->setExpanded(true);
    s.item("Bob")->setExpanded(true);
    EXPECT_TRUE(
        waitUntil([&] { return s.item("Bob/Live")->text(1).toStdString() == "SD にあり"; }));
    shoot("choosing");
    // At the size the window opens with and at its smallest, the list ends
    // above the selection bar, and the bar above the footer.
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
        shoot(std::string("choosing-") + name);
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
    shoot("sending");
    s.gate->open();
    ASSERT_TRUE(s.reaches("finishedPage"));
    shoot("finished");
    s.drop(s.card);  // the card itself: ignored
    s.drop(s.music);
    ASSERT_TRUE(s.reaches("failedPage"));
    shoot("failed");
}

}  // namespace
}  // namespace tarvik
