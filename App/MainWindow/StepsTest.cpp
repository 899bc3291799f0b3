#include <fstream>

#include <gtest/gtest.h>

#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include "App/MainWindow/ArtistSidebar.hpp"
#include "App/MainWindow/Card.hpp"
#include "App/MainWindow/Dialogs.hpp"
#include "App/MainWindow/ElidedLabel.hpp"
#include "App/MainWindow/HeaderBanner.hpp"
#include "App/MainWindow/Palette.hpp"
#include "App/MainWindow/StepBadge.hpp"
#include "App/MainWindow/StepCardCard.hpp"
#include "App/MainWindow/StepMusicCard.hpp"
#include "App/MainWindow/StepTitle.hpp"
#include "App/Testing/WidgetTesting.hpp"

namespace tarvik {
namespace {

template <typename T>
T* child(QWidget& parent, const char* name) {
    T* found = parent.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}

std::string text(QWidget& parent, const char* name) { return child<QLabel>(parent, name)->text().toStdString(); }

TEST(StepMusicCardTest, FreshStartAsksForTheFolder) {
    testing::ModelFixture f;
    StepMusicCard step(*f.model);
    EXPECT_EQ(child<ElidedLabel>(step, "musicFolderPath")->fullText(), "未選択");
    EXPECT_EQ(child<QPushButton>(step, "musicFolderButton")->text(), "フォルダを選ぶ…");
    EXPECT_TRUE(text(step, "musicStatus").starts_with("音楽ファイル（FLAC / WAV / MP3 など）"));
    EXPECT_TRUE(step.findChild<Card*>()->highlighted());
    EXPECT_TRUE(step.findChild<StepBadge*>()->active());
    EXPECT_FALSE(step.findChild<QWidget*>("herePill")->isHidden());
}

TEST(StepMusicCardTest, CountIsDrawnInTheSuccessColour) {
    testing::ModelFixture f;
    f.model->setSrcPath("/music");
    StepMusicCard step(*f.model);
    EXPECT_EQ(child<QPushButton>(step, "musicFolderButton")->text(), "変更…");
    EXPECT_EQ(text(step, "musicStatus"), "左の一覧で、入れたいアーティストにチェックを付けてください。");
    f.model->setSelected({"A", "B", "C", "D/1", "E/2"});
    EXPECT_EQ(text(step, "musicStatus"), "3 組のアーティストと 2 枚のアルバムを選んでいます");
    EXPECT_EQ(child<QLabel>(step, "musicStatus")->palette().color(QPalette::WindowText), Palette::success());
    EXPECT_TRUE(step.findChild<StepBadge*>()->done());
    EXPECT_FALSE(step.findChild<Card*>()->highlighted());
    EXPECT_TRUE(step.findChild<QWidget*>("herePill")->isHidden());
}

TEST(StepMusicCardTest, FolderButtonAsksThroughTheDialogs) {
    testing::ModelFixture f;
    f.model->setSrcPath("/music/old");
    StepMusicCard step(*f.model);
    Dialogs::Script script;  // nothing prepared: the user cancels
    QTest::mouseClick(child<QPushButton>(step, "musicFolderButton"), Qt::LeftButton);
    ASSERT_EQ(script.folderRequests().size(), 1U);
    EXPECT_EQ(script.folderRequests()[0].start, "/music/old");
    EXPECT_FALSE(script.folderRequests()[0].canCreateFolders);
    EXPECT_TRUE(script.folderRequests()[0].message.starts_with("音楽のフォルダ（アーティストのフォルダが並んでいるところ）"));
    EXPECT_EQ(f.model->srcPath(), "/music/old");
}

TEST(StepMusicCardTest, ChoosingAnAlbumFolderShowsTheNoticeUntilTheSelectionChanges) {
    testing::ModelFixture f;
    testing::TempDir library;
    testing::writeFile(library.path() / "青い月" / "夜の歌" / "01.flac", "");
    StepMusicCard step(*f.model);
    Dialogs::Script script;
    script.answerFolder(library.path() / "青い月" / "夜の歌");
    QTest::mouseClick(child<QPushButton>(step, "musicFolderButton"), Qt::LeftButton);
    EXPECT_EQ(child<ElidedLabel>(step, "musicFolderPath")->fullText().toStdString(), library.path().string());
    EXPECT_EQ(text(step, "musicStatus"), "1 枚のアルバムを選んでいます");
    EXPECT_FALSE(step.findChild<QWidget*>("sourceNotice")->isHidden());
    f.model->setSelected({"青い月"});
    EXPECT_TRUE(step.findChild<QWidget*>("sourceNotice")->isHidden());
}

TEST(StepTitleTest, SymbolsRepeatEveryThreeSteps) {
    EXPECT_EQ(StepTitle::symbolFor(1), Icons::Symbol::musicNote);
    EXPECT_EQ(StepTitle::symbolFor(3), Icons::Symbol::carFill);
    EXPECT_EQ(StepTitle::symbolFor(4), Icons::Symbol::musicNote);
}

TEST(ArtistSidebarTest, EmptyStates) {
    testing::ModelFixture f;
    ArtistSidebar sidebar(*f.model);
    EXPECT_EQ(text(sidebar, "sidebarEmptyText"), "右の①で音楽のフォルダを選ぶと\nここに一覧が出ます");
    testing::TempDir empty;
    f.model->setSrcPath(empty.path().string());
    EXPECT_EQ(text(sidebar, "sidebarEmptyText"), "このフォルダの中に\nアーティストのフォルダが見つかりません");
    EXPECT_FALSE(sidebar.findChild<QWidget*>("sidebarEmpty")->isHidden());
    EXPECT_TRUE(sidebar.findChild<QListWidget*>("artistList")->isHidden());
}

QListWidgetItem* artistItem(QListWidget& list, const QString& name) {
    for (int row = 0; row < list.count(); ++row)
        if (list.item(row)->text() == name && (list.item(row)->flags() & Qt::ItemIsUserCheckable)) return list.item(row);
    return nullptr;
}

struct Library {
    testing::TempDir dir;
    explicit Library(std::initializer_list<const char*> artists) {
        for (const char* artist : artists) std::filesystem::create_directories(dir.path() / artist / "Album");
    }
};

TEST(ArtistSidebarTest, TickingAnArtistDropsItsAlbumEntries) {
    Library library{"Aoi", "Beni", "Kuro"};
    testing::ModelFixture f;
    f.model->setSrcPath(library.dir.path().string());
    f.model->reloadArtists();
    if (f.model->artists().empty()) GTEST_SKIP() << "the model lists no artists yet";
    ArtistSidebar sidebar(*f.model);
    f.model->setSelected({"Aoi/Album", "Kuro"});
    auto* list = child<QListWidget>(sidebar, "artistList");
    EXPECT_EQ(list->item(0)->text(), "アルバムだけ選んだもの");
    EXPECT_EQ(text(sidebar, "selectionCountNumber"), "2");
    EXPECT_EQ(text(sidebar, "selectionCountTail"), "組を選択 / 全 3 組");
    ASSERT_NE(artistItem(*list, "Aoi"), nullptr);
    artistItem(*list, "Aoi")->setCheckState(Qt::Checked);
    EXPECT_EQ(f.model->selected(), (std::set<std::string>{"Aoi", "Kuro"}));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);  // the list lets row widgets go later
    EXPECT_EQ(sidebar.findChild<QWidget*>("albumEntry"), nullptr);
    EXPECT_NE(list->item(0)->text(), "アルバムだけ選んだもの");
}

TEST(ArtistSidebarTest, SearchThenSelectShownKeepsEarlierChoices) {
    Library library{"Aoi", "Beni", "Benihana", "Kuro"};
    testing::ModelFixture f;
    f.model->setSrcPath(library.dir.path().string());
    f.model->reloadArtists();
    if (f.model->artists().empty()) GTEST_SKIP() << "the model lists no artists yet";
    ArtistSidebar sidebar(*f.model);
    f.model->setSelected({"Kuro"});
    QTest::keyClicks(child<QLineEdit>(sidebar, "artistSearch"), "beni");
    EXPECT_EQ(child<QListWidget>(sidebar, "artistList")->count(), 2);
    QTest::mouseClick(child<QPushButton>(sidebar, "selectShownButton"), Qt::LeftButton);
    EXPECT_EQ(f.model->selected(), (std::set<std::string>{"Beni", "Benihana", "Kuro"}));
    QTest::mouseClick(child<QPushButton>(sidebar, "clearSelectionButton"), Qt::LeftButton);
    EXPECT_TRUE(f.model->selected().empty());
}

TEST(ArtistSidebarTest, AlbumEntryRemovesItself) {
    testing::ModelFixture f;
    f.model->setSrcPath("/music");
    f.model->setSelected({"A/B", "C/D"});
    ArtistSidebar sidebar(*f.model);
    QTest::mouseClick(child<QToolButton>(sidebar, "removeAlbumEntry"), Qt::LeftButton);
    EXPECT_EQ(f.model->selected(), (std::set<std::string>{"C/D"}));
}

TEST(HeaderBannerTest, SendButtonAsksForTheSendWindow) {
    testing::ModelFixture f;
    HeaderBanner header(*f.model);
    QTest::mouseClick(child<QPushButton>(header, "headerSendButton"), Qt::LeftButton);
    EXPECT_TRUE(f.model->showSend());
}

TEST(StepCardCardTest, PlainFolderDestination) {
    testing::ModelFixture f;
    StepCardCard step(*f.model);
    EXPECT_FALSE(step.findChild<QWidget*>("insertCardHint")->isHidden());
    EXPECT_TRUE(step.findChild<QWidget*>("destinationPicker")->isHidden());

    Dialogs::Script script;
    script.answerFolder("/home/u/書き出し");
    QTest::mouseClick(child<QPushButton>(step, "otherFolderButton"), Qt::LeftButton);
    EXPECT_TRUE(script.folderRequests().at(0).canCreateFolders);
    EXPECT_EQ(f.model->destPath(), "/home/u/書き出し");
    auto* picker = child<QComboBox>(step, "destinationPicker");
    EXPECT_FALSE(picker->isHidden());
    EXPECT_EQ(picker->currentText(), "フォルダ: /home/u/書き出し");
    EXPECT_FALSE(step.findChild<QWidget*>("sendToCardButton")->isHidden());
    EXPECT_TRUE(step.findChild<QWidget*>("capacityEstimate")->isHidden());
    QTest::mouseClick(child<QPushButton>(step, "sendToCardButton"), Qt::LeftButton);
    EXPECT_TRUE(f.model->showSend());
}

TEST(StepCardCardTest, CardWithEstimate) {
    testing::ModelFixture f;
    f.model->setDestPath("/media/u/SD");
    AppModelTesting::setVolumes(*f.model, {{"/", "System", 5'000'000'000, false}, {"/media/u/SD", "SD", 31'914'983'424, true}});
    emit f.model->volumesChanged();
    StepCardCard step(*f.model);
    ASSERT_NE(f.model->selectedProfile(), nullptr);
    const auto bitrate = f.model->selectedProfile()->audio.bitrate;
    const auto songs = static_cast<std::int64_t>(31'914'983'424.0 / (static_cast<double>(bitrate) * 1000 * 0.125 * 260));
    EXPECT_EQ(text(step, "capacityEstimate"), "約 " + std::to_string(songs) + " 曲入ります");
    EXPECT_TRUE(step.findChild<QWidget*>("sendToCardButton")->isHidden());
    auto* picker = child<QComboBox>(step, "destinationPicker");
    EXPECT_EQ(picker->currentText(), "SD — 空き 31.91 GB");
    EXPECT_EQ(picker->itemText(1), "（内蔵）System — 空き 5 GB");
    picker->activated(1);  // as the user's choice arrives
    EXPECT_EQ(f.model->destPath(), "/");
}

TEST(StepCardCardTest, NothingReactsWhileBusy) {
    testing::ModelFixture f;
    StepCardCard cardStep(*f.model);
    StepMusicCard musicStep(*f.model);
    ArtistSidebar sidebar(*f.model);
    AppModelTesting::setState(*f.model, RunState::planning());
    EXPECT_FALSE(cardStep.isEnabled());
    EXPECT_FALSE(musicStep.isEnabled());
    EXPECT_FALSE(sidebar.isEnabled());
    Dialogs::Script script;
    QTest::mouseClick(child<QPushButton>(musicStep, "musicFolderButton"), Qt::LeftButton);
    EXPECT_TRUE(script.folderRequests().empty());
    AppModelTesting::setState(*f.model, RunState::idle());
    EXPECT_TRUE(cardStep.isEnabled());
}

TEST(StepCardCardTest, ArtistFolderWarningMovesTheDestinationUp) {
    testing::TempDir library;
    std::filesystem::create_directories(library.path() / "青い月" / "夜の歌");
    testing::ModelFixture f([&](Settings& settings) {
        settings.setString("srcPath", library.path().string());
        settings.setString("destPath", (library.path() / "青い月").string() + "/");
    });
    StepCardCard step(*f.model);
    ASSERT_TRUE(f.model->destinationLooksLikeArtistFolder());
    EXPECT_FALSE(step.findChild<QWidget*>("artistFolderWarning")->isHidden());
    QTest::mouseClick(child<QPushButton>(step, "parentFolderButton"), Qt::LeftButton);
    EXPECT_EQ(f.model->destPath(), library.path().string());
    EXPECT_TRUE(step.findChild<QWidget*>("artistFolderWarning")->isHidden());
}

TEST(StepCardCardTest, ProfileActions) {
    testing::ModelFixture f;
    StepCardCard step(*f.model);
    const DeviceProfile* selected = f.model->selectedProfile();
    ASSERT_NE(selected, nullptr);
    ASSERT_TRUE(selected->isBuiltin);
    auto* picker = child<QComboBox>(step, "profilePicker");
    EXPECT_EQ(picker->count(), static_cast<int>(f.model->profiles().size()));
    EXPECT_EQ(picker->currentData().toString().toStdString(), selected->id);
    EXPECT_TRUE(step.findChild<QWidget*>("editProfileButton")->isHidden());
    EXPECT_TRUE(text(step, "profileSummary").starts_with(selected->audio.codec == DeviceProfile::Audio::Codec::mp3 ? "MP3" : "AAC"));

    std::vector<DeviceProfile> requests;
    QObject::connect(&step, &StepCardCard::editRequested, [&](const DeviceProfile& p) { requests.push_back(p); });
    QTest::mouseClick(child<QPushButton>(step, "newProfileButton"), Qt::LeftButton);
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests[0].id, "");
    EXPECT_TRUE(requests[0].name.starts_with("うちのナビ（"));

    // An unknown profile id: no summary, no edit button, and nothing to copy.
    f.model->setProfileId("gone");
    EXPECT_TRUE(step.findChild<QWidget*>("profileSummary")->isHidden());
    QTest::mouseClick(child<QPushButton>(step, "newProfileButton"), Qt::LeftButton);
    EXPECT_EQ(requests.size(), 1U);
}

}  // namespace
}  // namespace tarvik
