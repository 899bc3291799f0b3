#include <gtest/gtest.h>

#include <QDragEnterEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QtTest>
#include <condition_variable>
#include <fstream>
#include <mutex>

#include "App/MainWindow/Dialogs.hpp"
#include "App/Testing/Screenshots.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "App/Windows/SendAlbumTree.hpp"
#include "App/Windows/SendToSDView.hpp"
#include "App/Windows/SymbolLabel.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::FixtureVolumes;

void writeAlbum(const fs::path& folder, int files, int bytesEach) {
    fs::create_directories(folder);
    for (int index = 1; index <= files; ++index)
        std::ofstream(folder / ("0" + std::to_string(index) + ".mp3"))
            << std::string(bytesEach, 'x');
}

// Holds a send at its first file until the test lets it go or it is stopped.
struct Gate {
    std::mutex mutex;  // guards open
    std::condition_variable_any opened;
    bool open = false;

    void release() {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        opened.notify_all();
    }
    void wait(std::stop_token stop) {
        std::unique_lock lock(mutex);
        opened.wait(lock, stop, [this] { return open; });
    }
};

struct Setup {
    bool card = true;
    std::int64_t free = 1'000'000;
    bool gated = false;
};

// The window on an export folder of three albums (Aoi/First 2 × 1000 bytes,
// Aoi/Second, Bob/Live) with a fixture card; the real card tools copy.
struct SendFixture {
    testing::TempDir temp;
    fs::path music = temp.path() / "Music";
    fs::path exports = temp.path() / "タルヴィク";
    fs::path card = temp.path() / "media" / "SD";
    testing::ModelFixture f;
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    int closes = 0;
    std::unique_ptr<SendToSDView> view;

    explicit SendFixture(Setup setup = {})
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
        if (setup.card) {
            f.volumes->cards.insert(card);
            f.volumes->add(FixtureVolumes::card(card, setup.free));
            model().refreshVolumes();
        }
        SendToSDState::Tools tools = SendToSDState::Tools::standard();
        if (setup.gated) {
            tools.send = [gate = gate, real = tools.send](
                             const std::vector<SendToSDState::Album>& albums, const fs::path& root,
                             const SDCardTools::SendProgress& progress, std::stop_token stop) {
                progress(0, static_cast<std::int64_t>(albums.at(0).files.size()),
                         albums.at(0).files.at(0));
                gate->wait(stop);
                return real(albums, root, progress, stop);
            };
        }
        view = std::make_unique<SendToSDView>(
            model(), [this] { ++closes; }, tools);
        view->resize(820, 760);
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        EXPECT_TRUE(testing::waitUntil([this] {
            return state().albums().size() == 3 && !state().loading() &&
                   find<QTreeWidget>("albumTree")->topLevelItemCount() == 2;
        }));
    }

    AppModel& model() { return *f.model; }
    SendToSDState& state() { return view->state(); }
    template <typename T>
    T* find(const char* name) {
        T* found = view->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QWidget* page() { return find<QStackedWidget>("sendPages")->currentWidget(); }
    bool showing(const char* pageName) {
        QApplication::processEvents();
        return page()->objectName() == pageName;
    }
    QTreeWidgetItem* item(const std::string& id) {
        auto* tree = find<SendAlbumTree>("albumTree");
        for (int group = 0; group < tree->topLevelItemCount(); ++group) {
            QTreeWidgetItem* artist = tree->topLevelItem(group);
            if (artist->text(0).toStdString() == id) return artist;
            for (int row = 0; row < artist->childCount(); ++row)
                if (artist->child(row)->data(0, SendAlbumTree::idRole).toString().toStdString() ==
                    id)
                    return artist->child(row);
        }
        ADD_FAILURE() << id;
        return nullptr;
    }
    void tick(const std::string& id) {
        item(id)->setCheckState(0, Qt::Checked);
        QApplication::processEvents();
    }
    std::string text(const char* label) { return find<QLabel>(label)->text().toStdString(); }
    // Drags `paths` in and drops them; whether the window took the drop.
    bool drop(const std::vector<QString>& urls) {
        QMimeData mime;
        QList<QUrl> list;
        for (const QString& url : urls) list.push_back(QUrl(url));
        mime.setUrls(list);
        QDragEnterEvent enter(QPoint(40, 40), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(view.get(), &enter);
        QDropEvent dropped(QPointF(40, 40), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view.get(), &dropped);
        return dropped.isAccepted();
    }
    QString url(const fs::path& path) {
        return QUrl::fromLocalFile(QString::fromStdString(path.string())).toString();
    }
};

TEST(SendToSDViewTest, ArtistTickTakesOnlyTheGroupsSelectableAlbums) {
    SendFixture s;
    AppModelTesting::setWritingFolders(s.model(), {"Aoi/Second"});
    QTRY_VERIFY(s.find<QWidget>("busyNotice")->isVisible());
    EXPECT_FALSE(s.item("Aoi")->isExpanded());
    EXPECT_FALSE(s.item("Aoi/Second")->flags().testFlag(Qt::ItemIsEnabled));
    EXPECT_EQ(s.item("Aoi/Second")->text(1).toStdString(), "書き出し中");

    s.tick("Aoi");
    QTRY_COMPARE(s.state().picked(), (std::set<std::string>{"Aoi/First"}));
    EXPECT_EQ(s.item("Aoi/First")->checkState(0), Qt::Checked);
    EXPECT_EQ(s.item("Aoi/Second")->checkState(0), Qt::Unchecked);
    EXPECT_EQ(s.item("Aoi")->checkState(0), Qt::Checked);
    EXPECT_EQ(s.item("Bob/Live")->checkState(0), Qt::Unchecked);
    EXPECT_EQ(s.text("selectionText"), "選択: 1 アルバム・2 曲・2 KB");

    // The export finishes the album: it can be ticked now, and the artist is no longer all ticked.
    AppModelTesting::setWritingFolders(s.model(), {});
    QTRY_VERIFY(!s.find<QWidget>("busyNotice")->isVisible());
    EXPECT_EQ(s.item("Aoi")->checkState(0), Qt::Unchecked);
    EXPECT_TRUE(s.item("Aoi/Second")->flags().testFlag(Qt::ItemIsEnabled));
}

TEST(SendToSDViewTest, SendButtonNeedsACardAndATick) {
    const struct {
        bool card;
        bool tick;
        bool enabled;
    } cases[] = {
        {false, false, false}, {false, true, false}, {true, false, false}, {true, true, true}};
    for (const auto& c : cases) {
        SendFixture s({.card = c.card});
        if (c.tick) s.tick("Bob/Live");
        QApplication::processEvents();
        EXPECT_EQ(s.find<QPushButton>("sendButton")->isEnabled(), c.enabled) << c.card << c.tick;
        EXPECT_EQ(s.find<QWidget>("noCardLabel")->isVisible(), !c.card);
    }
}

TEST(SendToSDViewTest, FreeSpaceWarningOnlyWhenTheSelectionIsLarger) {
    for (const auto& [free, warned] :
         {std::pair{std::int64_t{1999}, true}, std::pair{std::int64_t{2000}, false}}) {
        SendFixture s({.free = free});
        s.tick("Aoi/First");
        QTRY_COMPARE(s.state().picked().size(), 1U);
        QApplication::processEvents();
        EXPECT_EQ(s.find<QLabel>("freeSpaceWarning")->isVisible(), warned) << free;
        EXPECT_TRUE(s.find<QPushButton>("sendButton")->isEnabled()) << free;
    }
}

TEST(SendToSDViewTest, DroppedAlbumFolderIsSentAtOnce) {
    SendFixture s;
    EXPECT_TRUE(s.drop({s.url(s.exports / "Bob" / "Live")}));
    QTRY_VERIFY_WITH_TIMEOUT(s.showing("finishedPage"), 10000);
    EXPECT_EQ(s.text("finishedHeadline"), "SD カードに入りました");
    EXPECT_EQ(s.text("finishedCounts"), "3 曲を写しました");
    EXPECT_TRUE(fs::is_regular_file(s.card / "Bob" / "Live" / "03.mp3"));
    EXPECT_FALSE(fs::exists(s.card / "Aoi"));
    EXPECT_FALSE(s.view->dropTargeted());

    QTest::mouseClick(s.find<QPushButton>("continueChoosingButton"), Qt::LeftButton);
    QTRY_VERIFY(s.showing("choosingPage"));
    QTRY_COMPARE(s.item("Bob/Live")->text(1).toStdString(), std::string("SD にあり"));
}

TEST(SendToSDViewTest, DragsOfFilesLightTheWindowOtherUrlsDoNot) {
    SendFixture s;
    const struct {
        QString url;
        bool taken;
    } cases[] = {{s.url(s.exports / "Aoi"), true}, {"https://example.invalid/Aoi", false}};
    for (const auto& c : cases) {
        QMimeData mime;
        mime.setUrls({QUrl(c.url)});
        QDragEnterEvent enter(QPoint(40, 40), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(s.view.get(), &enter);
        EXPECT_EQ(enter.isAccepted(), c.taken) << c.url.toStdString();
        EXPECT_EQ(s.view->dropTargeted(), c.taken);
        EXPECT_EQ(s.find<QWidget>("sendDropHighlight")->isVisible(), c.taken);
        QDragLeaveEvent leave;
        QApplication::sendEvent(s.view.get(), &leave);
        EXPECT_FALSE(s.view->dropTargeted());
    }
}

TEST(SendToSDViewTest, WhileSendingDropsAndClosingAreRefused) {
    SendFixture s({.gated = true});
    s.tick("Aoi/First");
    QTest::mouseClick(s.find<QPushButton>("sendButton"), Qt::LeftButton);
    QTRY_VERIFY(s.showing("sendingPage"));
    QTRY_COMPARE(s.find<QLabel>("sendingText")->toolTip().toStdString(),
                 std::string("写しています 0 / 2\u300001.mp3"));

    EXPECT_FALSE(s.drop({s.url(s.exports / "Bob" / "Live")}));
    QPushButton* close = s.find<QPushButton>("sendCloseButton");
    EXPECT_FALSE(close->isEnabled());
    s.view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(s.view.get()));
    QTest::keyClick(s.view.get(), Qt::Key_Escape);
    QTest::qWait(300);  // a shortcut presses its button a moment later
    EXPECT_EQ(s.closes, 0);

    s.gate->release();
    QTRY_VERIFY_WITH_TIMEOUT(s.showing("finishedPage"), 10000);
    EXPECT_EQ(s.text("finishedCounts"), "2 曲を写しました");
    EXPECT_FALSE(fs::exists(s.card / "Bob"));  // the refused drop sent nothing
    EXPECT_TRUE(close->isEnabled());
    QTest::keyClick(s.view.get(), Qt::Key_Escape);
    QTRY_COMPARE(s.closes, 1);
}

TEST(SendToSDViewTest, StopEndsOnAPageThatSaysSo) {
    SendFixture s({.gated = true});
    s.tick("Bob/Live");
    QTest::mouseClick(s.find<QPushButton>("sendButton"), Qt::LeftButton);
    QTRY_VERIFY(s.showing("sendingPage"));
    QTest::mouseClick(s.find<QPushButton>("cancelSendButton"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(s.showing("finishedPage"), 10000);
    EXPECT_EQ(s.text("finishedHeadline"), "中止しました");
    EXPECT_EQ(s.text("finishedCounts"), "0 曲を写しました");
    EXPECT_FALSE(fs::exists(s.card / "Bob" / "Live" / "01.mp3"));
}

TEST(SendToSDViewTest, FailureRowGoesBackWithTheTicksKept) {
    const struct {
        const char* name;
        bool card;
        std::function<fs::path(SendFixture&)> dropped;
        std::string message;
    } cases[] = {
        {"no card", false, [](SendFixture& s) { return s.exports / "Aoi"; },
         "SD カードを差し込んでから、もう一度ドラッグしてください。"},
        {"library", true, [](SendFixture& s) { return s.music; },
         "変換する前の元の曲（① の音楽のフォルダ）は送れません。メインの画面の "
         "③「書き出す」で変換するか、"
         "書き出したフォルダ（タルヴィク など）からドラッグしてください。"},
        {"no album", true, [](SendFixture& s) { return s.temp.path() / "empty"; },
         SendContent::noAlbumInDrop},
    };
    for (const auto& c : cases) {
        SendFixture s({.card = c.card});
        if (c.name == std::string("no album")) fs::create_directories(s.temp.path() / "empty");
        s.tick("Aoi/First");
        s.drop({s.url(c.dropped(s))});
        QTRY_VERIFY_WITH_TIMEOUT(s.showing("failedPage"), 10000);
        EXPECT_EQ(s.find<SymbolLabel>("failureMessage")->text()->text().toStdString(), c.message)
            << c.name;
        QTest::mouseClick(s.find<QPushButton>("backToChoosingButton"), Qt::LeftButton);
        QTRY_VERIFY(s.showing("choosingPage"));
        EXPECT_EQ(s.item("Aoi/First")->checkState(0), Qt::Checked) << c.name;
    }
}

TEST(SendToSDViewTest, EjectClosesOnlyOnceTheCardIsOut) {
    for (const bool refused : {false, true}) {
        SendFixture s;
        if (refused) s.f.volumes->refuseEject(s.card, "使用中です");
        s.drop({s.url(s.exports / "Aoi" / "Second")});
        QTRY_VERIFY_WITH_TIMEOUT(s.showing("finishedPage"), 10000);
        QPushButton* eject = s.find<QPushButton>("ejectCardButton");
        ASSERT_TRUE(eject->isVisible());
        QTest::mouseClick(eject, Qt::LeftButton);
        if (refused) {
            QTRY_VERIFY(s.find<QWidget>("ejectError")->isVisible());
            EXPECT_EQ(s.closes, 0);
        } else {
            QTRY_COMPARE(s.closes, 1);
        }
    }
}

TEST(SendToSDViewTest, ChosenFolderBecomesTheSource) {
    SendFixture s;
    const fs::path other = s.temp.path() / "other";
    writeAlbum(other / "Cai" / "Solo", 1, 10);
    Dialogs::Script script;
    script.answerFolder(other);
    QTest::mouseClick(s.find<QPushButton>("chooseSourceButton"), Qt::LeftButton);
    ASSERT_EQ(script.folderRequests().size(), 1U);
    EXPECT_EQ(script.folderRequests()[0].start, s.exports);
    QTRY_COMPARE(s.state().albums().size(), 1U);
    QTRY_VERIFY(s.item("Cai/Solo") != nullptr);
    EXPECT_EQ(s.find<QPushButton>("chooseSourceButton")->text().toStdString(), "変更…");
}

TEST(SendToSDViewTest, ScreenshotsLightAndDark) {
    testing::AppearanceScope scope;
    SendFixture s({.free = 2500, .gated = true});
    writeAlbum(s.card / "Bob" / "Live", 3, 300);
    s.state().refreshOnCard();
    AppModelTesting::setWritingFolders(s.model(), {"Aoi/Second"});
    s.item("Aoi")->setExpanded(true);
    s.item("Bob")->setExpanded(true);
    s.tick("Aoi/First");
    s.tick("Bob/Live");
    QTRY_COMPARE(s.item("Bob/Live")->text(1).toStdString(), std::string("SD にあり"));
    const auto shoot = [&](const std::string& name) {
        for (const auto& [mode, suffix] : {std::pair{Appearance::Mode::light, "light"},
                                           std::pair{Appearance::Mode::dark, "dark"}}) {
            testing::switchAppearance(mode);
            QApplication::processEvents();
            testing::saveScreenshot(*s.view, "send-" + name + "-" + suffix);
        }
    };
    QTRY_VERIFY(s.find<QWidget>("busyNotice")->isVisible());
    shoot("choosing");
    std::ofstream(s.card / "._01.mp3") << "x";
    QTest::mouseClick(s.find<QPushButton>("sendButton"), Qt::LeftButton);
    QTRY_VERIFY(s.showing("sendingPage"));
    shoot("sending");
    s.gate->release();
    QTRY_VERIFY_WITH_TIMEOUT(s.showing("finishedPage"), 10000);
    shoot("finished");
    s.drop({s.url(s.card)});  // the card itself: ignored
    s.drop({s.url(s.music)});
    QTRY_VERIFY(s.showing("failedPage"));
    shoot("failed");
}

}  // namespace
}  // namespace tarvik
