// Pictures of the sheets and the send window for a person to look at, in light
// and dark (build/screenshots/). They check nothing; each window's tests check
// the same states.
#include <gtest/gtest.h>

#include <QScrollArea>
#include <QScrollBar>
#include <QtTest>
#include <fstream>

#include "App/Model/CardCleaningMenu.hpp"
#include "App/Platform/AppPaths.hpp"
#include "App/Testing/Screenshots.hpp"
#include "App/Testing/WidgetTesting.hpp"
#include "App/Windows/CleaningSheet.hpp"
#include "App/Windows/OnboardingView.hpp"
#include "App/Windows/SendToSDTesting.hpp"
#include "App/Windows/WindowsTesting.hpp"

namespace tarvik {
namespace {

void shoot(QWidget& widget, const std::string& name) {
    testing::inLightAndDark(
        [&](const std::string& suffix) { testing::saveScreenshot(widget, name + "-" + suffix); });
}

// The menu's cleaning under way on a folder of many companions, as the
// sheet counts it.
TEST(WindowsScreenshots, Cleaning) {
    testing::ModelFixture fixture;
    fixture.model->setLowLoadManual(true);  // the bar stands where the count is
    testing::TempDir card;
    for (int n = 0; n < 3000; ++n)
        testing::writeFile(card / "Artist" / ("._" + std::to_string(n) + ".mp3"), "x");
    InteractiveCleaning cleaning(card.path());
    CleaningSheet sheet(cleaning, *fixture.model, {});
    sheet.show();
    // Under a heavy load the cleaning may end, and the sheet close, before the
    // window system shows it: the picture is of the sheet as it then stands.
    testing::waitUntil([&] { return cleaning.done() > 0 || !cleaning.running(); });
    shoot(sheet, "cleaning-sheet");
    testing::waitUntil([&] { return !cleaning.running(); });
}

TEST(WindowsScreenshots, Welcome) {
    testing::ModelFixture fixture;
    OnboardingView sheet(*fixture.model);
    sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    shoot(sheet, "welcome");
}

// With a suggestion to merge three spellings.
TEST(WindowsScreenshots, Aliases) {
    testing::AliasSheet sheet({"AB", "ab", "A B"});
    sheet.view->show();
    QApplication::processEvents();
    shoot(*sheet.view, "aliases");
}

// Over an alias file cut off, with a name sent to two names and Save refused.
TEST(WindowsScreenshots, AliasesRefused) {
    testing::AliasSheet sheet;
    testing::writeFile(AppPaths::aliasesFile(), R"({"entries": [{"from": "Kurune", "to": "K)");
    sheet.view->show();
    ArtistAliases rows{{{"Kurune Tobari", "くるねとばり"}, {"kurune tobari", "Tobari"}}};
    for (int i = 0; i < 2; ++i) testing::click(*sheet.view, "addAliasButton");
    const QList<QLineEdit*> from = sheet.fields("aliasFrom"), to = sheet.fields("aliasTo");
    for (int i = 0; i < 2; ++i) {
        QTest::keyClicks(from[i], QString::fromStdString(rows.entries[i].from));
        to[i]->insert(QString::fromStdString(rows.entries[i].to));
    }
    testing::click(*sheet.view, "aliasSaveButton");
    QApplication::processEvents();
    shoot(*sheet.view, "aliases-refused");
}

// A new profile's sheet, then its opened group scrolled down to a refusal;
// an older profile's rates that no choice offers, refused.
TEST(WindowsScreenshots, ProfileEditor) {
    testing::OpenEditor e;
    e.open(e.freshProfile());
    shoot(*e.sheet, "profile-editor");
    e.saveARefusedRoot();
    QScrollBar* bar = e.find<QScrollArea>("profileEditorForm")->verticalScrollBar();
    bar->setValue(bar->maximum());
    shoot(*e.sheet, "profile-editor-advanced");

    // An older profile's rates, shown as they are, and its refusal.
    DeviceProfile older = e.freshProfile();
    older.name = "うちのナビ";
    older.audio.bitrate = 320;
    older.audio.sampleRate = 22050;
    e.open(older);
    e.save();
    shoot(*e.sheet, "profile-editor-older");
}

// The titles tab of a real plan, with the skip toggle on.
TEST(WindowsScreenshots, Review) {
    testing::OpenReview s;
    testing::click(*s.sheet, "reviewTitlesTab");
    testing::click(*s.sheet, "skipReviewToggle");
    shoot(*s.sheet, "review-sheet");
}

// The choosing page (at its working size, the default and the smallest) while
// an album is still being exported, then the sending, finished (one album in
// a numbered folder) and failed pages.
TEST(WindowsScreenshots, SendPages) {
    testing::SendFixture s(2500);
    s.oneOnTheCardAndOneBeingWritten();
    s.tickAoiAndBobLive();
    shoot(*s.view, "send-choosing");
    for (const auto& [size, name] :
         {std::pair{s.view->sizeHint(), "default"}, {s.view->minimumSizeHint(), "minimum"}}) {
        s.view->resize(size);
        QApplication::processEvents();
        shoot(*s.view, std::string("send-choosing-") + name);
    }
    s.view->resize(820, 760);
    AppModelTesting::setWritingFolders(s.model(), {});
    std::ofstream(s.card / "._01.mp3") << "x";
    // A stranger's song where Aoi/First would go: the album takes "First 2".
    testing::writeFile(s.card / "Aoi/First/09 Other.mp3", "theirs");
    testing::click(*s.view, "sendButton");
    ASSERT_TRUE(s.reaches("sendingPage"));
    shoot(*s.view, "send-sending");
    s.gate->open();
    ASSERT_TRUE(s.reaches("finishedPage"));
    shoot(*s.view, "send-finished");
    s.drop(s.music);
    ASSERT_TRUE(s.reaches("failedPage"));
    shoot(*s.view, "send-failed");
}

// The choosing page while the export folder's file system has not answered
// yet: the loading bar and "確認しています…".
TEST(WindowsScreenshots, SendChecking) {
    testing::TempDir temp;
    const std::filesystem::path exports = temp.path() / "タルヴィク";
    testing::writeAlbum(exports / "Aoi" / "First", 2, 1000);
    testing::ModelFixture f(
        [&](Settings& settings) { settings.setString("sendSource", exports.string()); });
    auto gate = std::make_shared<testing::Gate>();
    SendToSDState::Tools tools = SendToSDState::Tools::standard();
    tools.exportedAlbums = [gate, real = tools.exportedAlbums](const auto& folders,
                                                               std::stop_token stop) {
        gate->wait(stop);
        return real(folders, stop);
    };
    SendToSDView view(
        *f.model, [] {}, std::move(tools));
    view.resize(820, 760);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    ASSERT_TRUE(
        testing::waitUntil([&] { return testing::child(view, "albumsChecking")->isVisible(); }));
    shoot(view, "send-checking");
    gate->open();
}

}  // namespace
}  // namespace tarvik
