#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QTest>

#include "App/Kit/Card.hpp"
#include "App/Kit/Dialogs.hpp"
#include "App/Kit/ElidedLabel.hpp"
#include "App/Kit/Palette.hpp"
#include "App/Kit/StepBadge.hpp"
#include "App/MainWindow/ArtistSidebar.hpp"
#include "App/MainWindow/HeaderBanner.hpp"
#include "App/MainWindow/MainWindowTesting.hpp"
#include "App/MainWindow/StepCardCard.hpp"
#include "App/MainWindow/StepContent.hpp"
#include "App/MainWindow/StepMusicCard.hpp"
#include "App/Model/ChooserStarts.hpp"
#include "App/Testing/WidgetTesting.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::child;
using testing::click;
using testing::labelText;

using testing::expectShown;

// Highlighted until a folder and a selection are chosen, then done with the
// count in the success colour (its text: MusicStepContentTest).
TEST(StepMusicCardTest, FolderButtonAsksThroughTheDialogsThenShowsTheCountInTheSuccessColour) {
    testing::ModelFixture f;
    testing::TempDir library;
    testing::writeFile(library.path() / "青い月" / "夜の歌" / "01.flac", "");
    StepMusicCard step(*f.model);
    EXPECT_TRUE(step.findChild<Card*>()->highlighted());
    EXPECT_TRUE(step.findChild<StepBadge*>()->active());
    expectShown(step, {{"herePill", true}});
    // The chooser opens in the music folder; in the home folder once that is gone.
    const fs::path old = library.path() / "old";
    fs::create_directories(old);
    f.model->setSrcPath(old.string());
    f.settled();
    Dialogs::Script script;  // nothing prepared: the user cancels
    ASSERT_TRUE(testing::clickChooser(step, "musicFolderButton", script));
    EXPECT_EQ(script.folderRequests()[0].start, old);
    fs::remove(old);
    ASSERT_TRUE(testing::clickChooser(step, "musicFolderButton", script));
    EXPECT_EQ(script.folderRequests()[1].start, ChooserStarts::home());
    EXPECT_EQ(f.model->srcPath(), old.string());
    // A name that is not UTF-8 reaches the program garbled: refused, and said why.
    const std::filesystem::path latin1 = library.path() / "caf\xe9";
    std::filesystem::create_directories(latin1);
    script.answerFolder(latin1);
    ASSERT_TRUE(testing::clickChooser(step, "musicFolderButton", script));
    EXPECT_EQ(f.model->srcPath(), old.string());
    ASSERT_EQ(script.messages().size(), 1U);
    EXPECT_EQ(script.messages()[0].text, Dialogs::unreadableName);

    script.answerFolder(library.path() / "青い月" / "夜の歌");
    ASSERT_TRUE(testing::clickChooser(step, "musicFolderButton", script));
    f.settled();
    EXPECT_EQ(child<ElidedLabel>(step, "musicFolderPath")->fullText().toStdString(),
              library.path().string());
    EXPECT_EQ(labelText(step, "musicStatus"), "1 枚のアルバムを選んでいます");
    expectShown(step, {{"sourceNotice", true}});
    f.model->setSelected({"青い月"});
    expectShown(step, {{"sourceNotice", false}, {"herePill", false}});
    EXPECT_EQ(child<QLabel>(step, "musicStatus")->palette().color(QPalette::WindowText),
              Palette::success());
    EXPECT_TRUE(step.findChild<StepBadge*>()->done());
    EXPECT_FALSE(step.findChild<Card*>()->highlighted());
}

// No folder, an empty one, one that is gone (not empty), and back: the
// sidebar and the music step say which, and the tick goes and comes back.
TEST(ArtistSidebarTest, EmptyStates) {
    testing::ModelFixture f;
    ArtistSidebar sidebar(*f.model);
    StepMusicCard step(*f.model);
    EXPECT_EQ(labelText(sidebar, "sidebarEmptyText"),
              "右の①で音楽のフォルダを選ぶと\nここに一覧が出ます");
    testing::TempDir empty;
    f.model->chooseSource(empty.path());
    f.settled();
    EXPECT_EQ(labelText(sidebar, "sidebarEmptyText"),
              "このフォルダの中に\nアーティストのフォルダが見つかりません");
    expectShown(sidebar, {{"sidebarEmpty", true}, {"artistList", false}});

    std::filesystem::create_directories(empty / "青い月");
    f.model->chooseSource(empty.path());
    f.settled();
    f.model->setSelected({"青い月"});
    EXPECT_TRUE(step.findChild<StepBadge*>()->done());
    std::filesystem::rename(empty.path(), empty.path().string() + "-gone");
    f.model->recheckFolders();
    f.settled();
    EXPECT_EQ(labelText(sidebar, "sidebarEmptyText"),
              "音楽フォルダが見つかりません。\nつなぎ直すか、選び直してください。");
    expectShown(sidebar, {{"sidebarEmpty", true},
                          {"artistList", false},
                          {"selectionCountNumber", false},
                          {"selectionCountTail", false}});
    EXPECT_EQ(labelText(step, "musicStatus"),
              "音楽フォルダが見つかりません。つなぎ直すか、選び直してください。");
    EXPECT_FALSE(step.findChild<StepBadge*>()->done());
    std::filesystem::rename(empty.path().string() + "-gone", empty.path());
    f.model->recheckFolders();
    f.settled();
    expectShown(sidebar,
                {{"sidebarEmpty", false}, {"artistList", true}, {"selectionCountNumber", true}});
    EXPECT_EQ(labelText(sidebar, "selectionCountTail"), "組を選択 / 全 1 組");
    EXPECT_EQ(labelText(step, "musicStatus"), "1 組のアーティストを選んでいます");
    EXPECT_TRUE(step.findChild<StepBadge*>()->done());
}

// Two folders whose names are not UTF-8 (Shift-JIS from an older system)
// are two rows, each ticked alone, each marked as not read for certain.
TEST(ArtistSidebarTest, NamesThatAreNotUTF8AreRowsOfTheirOwn) {
    testing::ModelFixture f;
    testing::TempDir library;
    const std::string test = "\x83\x65\x83\x58\x83\x67lib";  // テストlib
    const std::string cafe = "Caf\xE9 lib";                  // Latin-1
    for (const std::string& name : {test, cafe})
        std::filesystem::create_directories(library.path() / name / "Album");
    f.model->chooseSource(library.path());
    f.settled();
    ArtistSidebar sidebar(*f.model);
    auto* list = child<QListWidget>(sidebar, "artistList");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), "Caf\uFFFD lib");
    EXPECT_EQ(list->item(1)->text(), "テストlib");
    for (int row = 0; row < 2; ++row) {
        EXPECT_FALSE(list->item(row)->icon().isNull());
        EXPECT_EQ(list->item(row)->toolTip().toStdString(), StepContent::unreadableNameNote);
    }
    list->item(1)->setCheckState(Qt::Checked);
    EXPECT_EQ(f.model->selected(), std::set<std::string>{test});
    EXPECT_EQ(list->item(0)->checkState(), Qt::Unchecked);
}

// A model on a library of these artists, each with one album.
struct Library {
    testing::TempDir dir;
    testing::ModelFixture f;
    explicit Library(std::initializer_list<const char*> artists) {
        for (const char* artist : artists) fs::create_directories(dir.path() / artist / "Album");
        f.model->setSrcPath(dir.path().string());
        f.settled();
        f.model->reloadArtists();
    }
};

TEST(ArtistSidebarTest, TickingAnArtistDropsItsAlbumEntriesAndTheirRows) {
    Library library{"Aoi", "Beni", "Kuro"};
    AppModel& model = *library.f.model;
    ArtistSidebar sidebar(model);
    model.setSelected({"Aoi/Album", "Kuro"});
    auto* list = child<QListWidget>(sidebar, "artistList");
    EXPECT_EQ(list->item(0)->text(), "アルバムだけ選んだもの");
    EXPECT_EQ(labelText(sidebar, "selectionCountNumber") + labelText(sidebar, "selectionCountTail"),
              "2組を選択 / 全 3 組");
    const auto aoi = list->findItems("Aoi", Qt::MatchExactly);
    ASSERT_EQ(aoi.size(), 1);
    aoi[0]->setCheckState(Qt::Checked);
    EXPECT_EQ(model.selected(), (std::set<std::string>{"Aoi", "Kuro"}));
    QCoreApplication::sendPostedEvents(
        nullptr, QEvent::DeferredDelete);  // the list lets row widgets go later
    EXPECT_EQ(sidebar.findChild<QWidget*>("albumEntry"), nullptr);
    EXPECT_NE(list->item(0)->text(), "アルバムだけ選んだもの");
}

TEST(ArtistSidebarTest, SearchThenSelectShownKeepsEarlierChoicesAndAlbumEntriesRemoveThemselves) {
    Library library{"Aoi", "Beni", "Benihana", "Kuro"};
    AppModel& model = *library.f.model;
    ArtistSidebar sidebar(model);
    model.setSelected({"Kuro"});
    QTest::keyClicks(child<QLineEdit>(sidebar, "artistSearch"), "beni");
    EXPECT_EQ(child<QListWidget>(sidebar, "artistList")->count(), 2);
    click(sidebar, "selectShownButton");
    EXPECT_EQ(model.selected(), (std::set<std::string>{"Beni", "Benihana", "Kuro"}));
    click(sidebar, "clearSelectionButton");
    EXPECT_TRUE(model.selected().empty());

    model.setSelected({"A/B", "C/D"});
    click(sidebar, "removeAlbumEntry");
    EXPECT_EQ(model.selected(), (std::set<std::string>{"C/D"}));
}

// At the window's smallest size a name longer than the sidebar ends in "…"
// within the column, and so does an album-only choice of it: the list is
// never wider than its column and never scrolls sideways.
TEST(ArtistSidebarTest, LongNamesAreShortenedWithinTheColumn) {
    testing::FirstSteps first;
    MainWindow window(*first.f.model, {});
    testing::showAtSmallestSize(window);
    auto* list = child<QListWidget>(window, "artistList");
    const int room = list->viewport()->width();
    EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
    int shortened = 0;
    for (int row = 0; row < list->count(); ++row) {
        const QRect rect = list->visualItemRect(list->item(row));
        EXPECT_LE(rect.right(), room) << list->item(row)->text().toStdString();
        if (list->fontMetrics().horizontalAdvance(list->item(row)->text()) > rect.width())
            ++shortened;  // drawn with the view's "…"
    }
    EXPECT_EQ(list->textElideMode(), Qt::ElideRight);
    EXPECT_EQ(shortened, 1);
    const QList<QWidget*> entries = list->findChildren<QWidget*>("albumEntry");
    ASSERT_EQ(entries.size(), 2);
    for (const QWidget* entry : entries) {
        const auto* name = entry->findChild<ElidedLabel*>();
        const bool isLong =
            name->fullText().startsWith(QString::fromStdString(testing::longArtist));
        EXPECT_EQ(name->text().contains("…"), isLong) << name->text().toStdString();
        EXPECT_LE(name->mapTo(list->viewport(), QPoint(name->width(), 0)).x(), room);
    }
}

TEST(StepCardCardTest, AFolderDestinationOffersToSendAndACardItsEstimate) {
    const testing::TempDir media;
    testing::ModelFixture f({}, false, [&](AppModel::Services& services) {
        services.mediaFolder = [&media] { return media.path(); };
    });
    StepCardCard step(*f.model);
    expectShown(step, {{"insertCardHint", true}, {"destinationPicker", false}});

    Dialogs::Script script;
    script.answerFolder("/home/u/書き出し");
    ASSERT_TRUE(testing::clickChooser(step, "otherFolderButton", script));
    EXPECT_EQ(script.folderRequests()[0].start, media.path());
    EXPECT_EQ(f.model->destPath(), "/home/u/書き出し");
    expectShown(step, {{"destinationPicker", true}, {"capacityEstimate", false}});
    EXPECT_EQ(child<QComboBox>(step, "destinationPicker")->currentText(),
              "フォルダ: /home/u/書き出し");
    click(step, "sendToCardButton");
    EXPECT_TRUE(f.model->showSend());

    f.model->setShowSend(false);
    HeaderBanner header(*f.model);
    click(header, "headerSendButton");
    EXPECT_TRUE(f.model->showSend());

    // A card: its song estimate, and another volume chosen.
    f.model->setDestPath("/media/u/SD");
    AppModelTesting::setVolumes(*f.model, {{"/", "System", 5'000'000'000, false},
                                           {"/media/u/SD", "SD", 31'914'983'424, true}});
    emit f.model->volumesChanged();
    EXPECT_EQ(labelText(step, "capacityEstimate"), "約 5103 曲入ります");
    expectShown(step, {{"sendToCardButton", false}, {"capacityEstimate", true}});
    testing::choose(*child<QComboBox>(step, "destinationPicker"), "/");
    EXPECT_EQ(f.model->destPath(), "/");
}

TEST(StepCardCardTest, NothingReactsWhileBusy) {
    testing::ModelFixture f;
    StepCardCard cardStep(*f.model);
    StepMusicCard musicStep(*f.model);
    ArtistSidebar sidebar(*f.model);
    AppModelTesting::setState(*f.model, RunState::planning());
    for (QWidget* part : std::initializer_list<QWidget*>{&cardStep, &musicStep, &sidebar})
        EXPECT_FALSE(part->isEnabled()) << part->metaObject()->className();
    Dialogs::Script script;
    click(musicStep, "musicFolderButton");
    EXPECT_TRUE(script.folderRequests().empty());
    AppModelTesting::setState(*f.model, RunState::idle());
    EXPECT_TRUE(cardStep.isEnabled());
}

TEST(StepCardCardTest, ArtistFolderWarningMovesTheDestinationUp) {
    testing::TempDir library;
    fs::create_directories(library.path() / "青い月" / "夜の歌");
    testing::ModelFixture f([&](Settings& settings) {
        settings.setString("srcPath", library.path().string());
        settings.setString("destPath", (library.path() / "青い月").string() + "/");
    });
    StepCardCard step(*f.model);
    ASSERT_TRUE(f.model->destinationLooksLikeArtistFolder());
    expectShown(step, {{"artistFolderWarning", true}});
    click(step, "parentFolderButton");
    EXPECT_EQ(f.model->destPath(), library.path().string());
    expectShown(step, {{"artistFolderWarning", false}});
}

TEST(StepCardCardTest, ProfileActions) {
    testing::ModelFixture f;
    StepCardCard step(*f.model);
    const DeviceProfile* selected = f.model->selectedProfile();
    ASSERT_TRUE(selected != nullptr && selected->isBuiltin);
    EXPECT_EQ(child<QComboBox>(step, "profilePicker")->currentData().toString().toStdString(),
              selected->id);
    expectShown(step, {{"editProfileButton", false}});
    EXPECT_EQ(labelText(step, "profileSummary"), StepContent::profileSummary(*selected));

    std::vector<DeviceProfile> requests;
    QObject::connect(&step, &StepCardCard::editRequested,
                     [&](const DeviceProfile& p) { requests.push_back(p); });
    click(step, "newProfileButton");
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests[0].id, "");
    EXPECT_TRUE(requests[0].name.starts_with("うちのナビ（"));

    // An unknown profile id: no summary, no edit button, and nothing to copy.
    f.model->setProfileId("gone");
    expectShown(step, {{"profileSummary", false}});
    click(step, "newProfileButton");
    EXPECT_EQ(requests.size(), 1U);
}

}  // namespace
}  // namespace tarvik
