// The send window's state with the real card tools: an export folder of small
// files, "cards" that are plain folders the fixture volume service lists as
// FAT cards, and a real exFAT image where the machine allows one.
#include <gtest/gtest.h>

#include <atomic>
#include <map>

#include "App/Model/AppModel.hpp"
#include "App/Model/AppModelTesting.hpp"
#include "App/Testing/FixtureVolumes.hpp"
#include "App/Windows/SendToSDState.hpp"
#include "App/Windows/SendToSDTesting.hpp"
#include "Core/Testing/CardImage.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using Paths = std::vector<std::filesystem::path>;
using testing::filesBelow;
using testing::FixtureVolumes;
using testing::Gate;
using testing::waitUntil;
using testing::writeFile;

class SendToSDStateTest : public ::testing::Test {
protected:
    SendToSDStateTest() {
        writeFile(exports() / "Aino" / "Kes\u00E4" / "01 A.mp3", "aaaa");
        writeFile(exports() / "Aino" / "Kes\u00E4" / "02 B.mp3", "bbbbbb");
        writeFile(exports() / "Beta" / "Live" / "01 C.mp3", "cc");
        setting("sendSource", exports());
    }

    std::filesystem::path exports() const { return temp_ / "Export"; }
    void setting(const std::string& key, const std::filesystem::path& value) {
        xdg_.settings()->setString(key, value.string());
    }

    // A folder that the volume service lists as a removable FAT card.
    std::filesystem::path addCard(const std::filesystem::path& path) {
        std::filesystem::create_directories(path);
        volumes_->add(FixtureVolumes::card(path, 1 << 30));
        volumes_->listAsCard(path);
        return path;
    }

    // A new model and state, the window on screen and its albums listed.
    SendToSDState& open(SendToSDState::Tools tools = SendToSDState::Tools::standard()) {
        state_.reset();
        AppModel::Services services = AppModelTesting::services(xdg_);
        services.volumes = volumes_;
        model_ = std::make_unique<AppModel>(std::move(services));
        EXPECT_TRUE(testing::settle(*model_));
        state_ = std::make_unique<SendToSDState>(*model_, std::move(tools));
        state_->onAppear();
        EXPECT_TRUE(waitUntil([&] { return !state_->loading(); }));
        return *state_;
    }

    // The page the send ended on; what it copied, when it finished.
    SendContent::Phase ended() {
        EXPECT_TRUE(waitUntil([&] { return !state_->sending(); }));
        // The volumes read again at the end have answered.
        EXPECT_TRUE(testing::settle(*model_));
        return state_->phase();
    }
    SendContent::SendResult sent() { return std::get<SendContent::Finished>(ended()).result; }

    // One album ticked and sent, then all: the second send copies only the other one.
    void sendTwice(SendToSDState& state) {
        ASSERT_EQ(state.albums().size(), 2U);
        state.setAlbumPicked("Aino/Kes\u00E4", true);
        state.send(SendContent::chosenAlbums(state.albums(), state.picked(), state.busyFolders()));
        EXPECT_TRUE(model_->sendingToCard());
        EXPECT_EQ(sent().copied, 2);
        EXPECT_FALSE(model_->sendingToCard());
        state.continueChoosing();
        EXPECT_TRUE(state.picked().empty());
        ASSERT_TRUE(
            waitUntil([&] { return state.onCard() == std::set<std::string>{"Aino/Kes\u00E4"}; }));
        state.pickAllNotOnCard();
        EXPECT_EQ(state.picked(), std::set<std::string>{"Beta/Live"});
        state.send(state.albums());
        const SendContent::SendResult again = sent();
        EXPECT_EQ(std::pair(again.copied, again.skipped), std::pair(1L, 2L));
    }

    testing::ScopedXdg xdg_;
    testing::TempDir temp_;
    std::shared_ptr<FixtureVolumes> volumes_ = std::make_shared<FixtureVolumes>();
    std::unique_ptr<AppModel> model_;
    std::unique_ptr<SendToSDState> state_;  // goes before the model it watches
};

TEST_F(SendToSDStateTest, SendCopiesTheTickedAlbumsAndASecondSendSkipsThem) {
    const auto card = addCard(temp_ / "CARD");
    sendTwice(open());
    EXPECT_EQ(filesBelow(card).size(), 3U);
}

TEST_F(SendToSDStateTest, ASendLargerThanTheCardCopiesNothingAndSaysWhy) {
    const auto card = addCard(temp_ / "CARD");
    SendToSDState::Tools tools = SendToSDState::Tools::standard();
    tools.send = [](const auto& albums, const auto& root, const auto& progress,
                    std::stop_token stop) {
        return SDCardTools::send(
            albums, root, progress, [](const auto&) { return 11L; }, stop);
    };
    SendToSDState& state = open(std::move(tools));
    volumes_->setAvailable(card, 11);
    state.send(state.albums());
    EXPECT_EQ(ended(), SendContent::Phase(SendContent::Failed{
                           SDCardTools::SendError::notEnoughSpace(12, 11).description()}));
    EXPECT_TRUE(filesBelow(card).empty());
    EXPECT_FALSE(model_->sendingToCard());
    // Also a failed send has the card's free space read again.
    ASSERT_EQ(model_->volumes().size(), 1U);
    EXPECT_EQ(model_->volumes()[0].free, 11);
}

TEST_F(SendToSDStateTest, AStopEndsOnTheStoppedPageWithWholeFilesOnly) {
    const auto card = addCard(temp_ / "CARD");
    SendToSDState::Tools tools = SendToSDState::Tools::standard();
    // The second file waits until "中止" is pressed.
    tools.send = [](const auto& albums, const auto& root, const auto& progress,
                    std::stop_token stop) {
        const auto held = [&](std::int64_t done, std::int64_t total, const std::string& name) {
            progress(done, total, name);
            if (done == 1) Gate().wait(stop);
        };
        return SDCardTools::send(albums, root, held, stop);
    };
    SendToSDState& state = open(std::move(tools));
    state.send(state.albums());
    const auto second = SendContent::Phase(SendContent::Sending{1, 3, "02 B.mp3"});
    ASSERT_TRUE(waitUntil([&] { return state.phase() == second; }));
    // Neither another send nor a drop starts a second copy meanwhile.
    state.send(state.albums());
    EXPECT_FALSE(state.handleDrop({exports() / "Beta"}));
    EXPECT_EQ(state.phase(), second);
    EXPECT_TRUE(model_->sendingToCard());
    std::optional<std::string> ejecting;  // nor does the main window eject the card
    model_->ejectVolume(card, [&](const auto& failure) { ejecting = failure; });
    EXPECT_EQ(ejecting, "取り出せません: CARD（SD カードへ送っている最中です）");

    state.cancelSend();
    const auto finished = std::get<SendContent::Finished>(ended());
    EXPECT_EQ(SendContent::finishedTexts(finished).headline, "中止しました");
    EXPECT_EQ(finished.result.copied, 2);
    EXPECT_EQ(filesBelow(card).size(), 2U);  // and no temporary copy of the third
}

// While the card is being ejected, by this window's "SD カードを取り出す" or
// by the main window, nothing more goes onto it; this window closes once the
// card is out, when it asked.
TEST_F(SendToSDStateTest, NothingIsSentOntoACardBeingEjected) {
    for (const bool here : {true, false}) {
        SCOPED_TRACE(here ? "this window" : "the main window");
        const auto card = addCard(temp_ / (here ? "CARD" : "CARD2"));
        Gate gate;
        volumes_->duringEject = [&](std::stop_token stop) { gate.wait(stop); };
        SendToSDState& state = open();
        state.setCardPath(card.string());
        state.send({state.albums().front()});
        const SendContent::Phase finished = ended();
        int closes = 0;
        QObject::connect(&state, &SendToSDState::closeRequested, [&] { ++closes; });
        if (here)
            state.ejectCardAndClose();
        else
            model_->ejectVolume(card);
        EXPECT_TRUE(state.ejecting());
        EXPECT_FALSE(state.handleDrop({exports() / "Beta"}));
        state.send(state.albums());
        state.continueChoosing();
        EXPECT_EQ(state.phase(), finished);
        gate.open();
        EXPECT_TRUE(waitUntil([&] { return !state.ejecting(); }));
        EXPECT_EQ(closes, here ? 1 : 0);
        EXPECT_EQ(filesBelow(card).size(), 2U);
        volumes_->duringEject = nullptr;
    }
}

TEST_F(SendToSDStateTest, DropsSendAlbumFoldersAndSayWhyOthersAreRefused) {
    writeFile(temp_ / "Music" / "Aino" / "1.flac", "f");
    std::filesystem::create_directories(temp_ / "Empty");
    setting("srcPath", temp_ / "Music");
    const auto card = addCard(temp_ / "CARD");
    SendToSDState& state = open();
    struct Case {
        Paths dropped;
        std::string failure;  // the start of the failure text; empty for a send
    };
    const Case cases[] = {
        {{exports() / "Aino"}, ""},  // an artist's folder: its albums
        {{temp_ / "Empty"}, SendContent::noAlbumInDrop},
        {{exports(), temp_ / "Music" / "Aino"},
         "変換する前の元の曲（① の音楽のフォルダ）は送れません。"},
    };
    for (const Case& c : cases) {
        state.backToChoosing();
        EXPECT_TRUE(state.handleDrop(c.dropped));
        ASSERT_TRUE(waitUntil([&] { return state.phase().index() >= 2; })) << c.dropped.front();
        if (c.failure.empty()) {
            EXPECT_EQ(sent().copied, 2);
        } else {
            EXPECT_TRUE(
                std::get<SendContent::Failed>(state.phase()).message.starts_with(c.failure));
        }
    }
    state.backToChoosing();
    EXPECT_TRUE(state.handleDrop({card}));  // nothing but the card: nothing happens
    EXPECT_FALSE(waitUntil([&] { return state.phase().index() != 0; }, 200ms));
}

// A scan or check asked for while one runs stops that one, which then tells
// nothing, and follows it; only the latest one's result is shown.
TEST_F(SendToSDStateTest, ASupersededScanOrCheckStopsAndOnlyTheLatestCounts) {
    const Paths held = {addCard(temp_ / "A"), addCard(temp_ / "B"), exports() / "Aino",
                        exports() / "Beta"};
    std::map<std::filesystem::path, Gate> gates;
    for (const auto& path : held) gates[path];
    std::atomic<int> checks = 0;
    SendToSDState::Tools tools = SendToSDState::Tools::standard();
    tools.exportedAlbums = [&](const Paths& folders, std::stop_token stop) {
        if (gates.contains(folders.front())) gates.at(folders.front()).wait(stop);
        return SDCardTools::exportedAlbums(folders);
    };
    tools.isOnCard = [&](const auto&, const auto& root, const auto&, std::stop_token) {
        ++checks;
        gates.at(root).wait({});
        return true;
    };
    SendToSDState& state = open(std::move(tools));
    ASSERT_TRUE(waitUntil([&] { return checks == 1; }));  // the marks on A wait
    state.setCardPath(held[1].string());
    gates.at(held[0]).open();  // A's check stops after its first album; B's waits
    ASSERT_TRUE(waitUntil([&] { return checks == 2; }));
    EXPECT_FALSE(waitUntil([&] { return !state.onCard().empty() || checks > 2; }, 300ms));

    state.setSource(held[2].string());
    state.setSource(held[3].string());  // the scan of Aino stops at once
    EXPECT_FALSE(waitUntil([&] { return state.albums().size() != 2; }, 300ms));
    EXPECT_TRUE(state.loading());
    gates.at(held[3]).open();
    ASSERT_TRUE(waitUntil([&] { return !state.loading(); }));
    EXPECT_EQ(state.albums().size(), 1U);
    gates.at(held[1]).open();  // B's check of the old list stops; the new list's follows
    EXPECT_TRUE(waitUntil([&] { return state.onCard() == std::set<std::string>{"Beta/Live"}; }));
    EXPECT_FALSE(
        waitUntil([&] { return state.onCard() != std::set<std::string>{"Beta/Live"}; }, 300ms));
}

// An export finishing folder after folder: the list follows with one scan at
// a time, a burst of changes costs two, and a hidden window scans nothing
// until it is seen again.
TEST_F(SendToSDStateTest, RescansFollowTheExportOneAtATimeAndNotWhileHidden) {
    std::atomic<int> scans = 0;
    std::atomic<int> running = 0;
    std::atomic<int> most = 0;
    std::atomic<int> stopped = 0;
    std::atomic<bool> held = false;
    Gate gate;
    SendToSDState::Tools tools = SendToSDState::Tools::standard();
    tools.exportedAlbums = [&](const Paths& folders, std::stop_token stop) {
        ++scans;
        most = std::max(most.load(), ++running);
        if (held) gate.wait(stop);
        stopped += stop.stop_requested() ? 1 : 0;
        --running;
        return SDCardTools::exportedAlbums(folders);
    };
    SendToSDState& state = open(std::move(tools));
    const auto burst = [&] {
        for (int i = 0; i < 100; ++i)
            AppModelTesting::setWritingFolders(*model_, {"Aino/" + std::to_string(i)});
    };
    held = true;
    scans = 0;
    burst();
    gate.open();
    ASSERT_TRUE(waitUntil([&] { return scans == 2 && running == 0; }));
    EXPECT_FALSE(waitUntil([&] { return scans > 2; }, 200ms));
    EXPECT_EQ(most, 1);
    EXPECT_EQ(stopped, 1);

    state.setOnScreen(false);
    burst();
    EXPECT_FALSE(waitUntil([&] { return scans > 2; }, 200ms));
    state.setOnScreen(true);
    EXPECT_TRUE(waitUntil([&] { return scans == 3 && running == 0; }));
    EXPECT_FALSE(waitUntil([&] { return scans > 3; }, 200ms));
}

TEST_F(SendToSDStateTest, AStoredSourceThatIsGoneOrInTheLibraryGivesWayToTheExport) {
    const auto library = temp_ / "Cafe\u0301";  // named decomposed, stored composed
    std::filesystem::create_directories(library / "Aino");
    std::filesystem::create_directories(temp_ / "Caf\u00E9 2");
    setting("srcPath", temp_ / "Caf\u00E9");
    setting("lastExportPath", exports());
    for (const auto& [stored, kept] : std::vector<std::pair<std::filesystem::path, bool>>{
             {library / "Aino", false}, {temp_ / "gone", false}, {temp_ / "Caf\u00E9 2", true}}) {
        setting("sendSource", stored);
        SendToSDState& state = open();
        const std::string expected = kept ? stored.string() : exports().string();
        EXPECT_EQ(state.source(), expected) << stored;
        EXPECT_EQ(model_->sendSource(), expected);
        EXPECT_EQ(state.albums().size(), kept ? 0U : 2U);
    }
}

// The suggestion taken is the last export folder as it is at the press,
// asked on a worker: one made after the window appeared is taken.
TEST_F(SendToSDStateTest, TheSuggestionIsAskedAnewWhenTaken) {
    const auto library = temp_ / "Music";
    const auto later = temp_ / "Later";
    std::filesystem::create_directories(library / "Aino");
    std::filesystem::create_directories(temp_ / "Dest");
    setting("srcPath", library);
    setting("sendSource", library / "Aino");
    setting("destPath", temp_ / "Dest");
    setting("lastExportPath", later);
    SendToSDState& state = open();
    EXPECT_EQ(state.source(), (temp_ / "Dest").string());
    state.setSource(library.string());
    writeFile(later / "Aino" / "Talvi" / "01 Lumi.mp3", "l");
    state.useSuggestedSource();
    EXPECT_TRUE(waitUntil([&] { return state.source() == later.string(); }));
    EXPECT_TRUE(waitUntil([&] { return state.albums().size() == 1 && !state.loading(); }));
}

TEST_F(SendToSDStateTest, TheCardFollowsTheMountedVolumes) {
    const auto first = addCard(temp_ / "A");
    const auto second = addCard(temp_ / "B");
    SDCardTools::send(SDCardTools::exportedAlbums({exports() / "Aino"}), second);
    SendToSDState& state = open();
    EXPECT_EQ(state.cardPath(), first.string());
    volumes_->unmount(first);
    ASSERT_TRUE(testing::settle(*model_));
    EXPECT_EQ(state.cardPath(), second.string());
    EXPECT_TRUE(
        waitUntil([&] { return state.onCard() == std::set<std::string>{"Aino/Kes\u00E4"}; }));
    volumes_->unmount(second);
    ASSERT_TRUE(testing::settle(*model_));
    EXPECT_EQ(state.cardPath(), "");
    EXPECT_TRUE(state.onCard().empty());
}

// The drive holding the music folder is listed among the cards but never
// picked by the window itself; the user may still pick it.
TEST_F(SendToSDStateTest, TheMusicDriveIsNeverTheCardPickedByItself) {
    const auto drive = addCard(temp_ / "A");
    writeFile(drive / "Music" / "Aino" / "01.flac", "");
    setting("srcPath", drive / "Music");
    SendToSDState& state = open();
    EXPECT_EQ(state.cards().size(), 1U);
    EXPECT_EQ(state.cardPath(), "");
    const auto card = temp_ / "B";
    std::filesystem::create_directories(card);
    volumes_->listAsCard(card);
    volumes_->mount(FixtureVolumes::card(card, 1 << 30));
    ASSERT_TRUE(testing::settle(*model_));
    EXPECT_EQ(state.cardPath(), card.string());
    volumes_->unmount(card);
    ASSERT_TRUE(testing::settle(*model_));
    EXPECT_EQ(state.cardPath(), "");
    state.setCardPath(drive.string());
    EXPECT_EQ(state.selectedCard()->url, drive);
}

TEST_F(SendToSDStateTest, SendsOntoARealExfatCard) {
    std::string whyNot;
    const auto card = testing::CardImage::make(16 * 1024 * 1024, whyNot);
    if (!card) GTEST_SKIP() << "no real exFAT card: " << whyNot;
    addCard(card->root());
    sendTwice(open());
}

}  // namespace
}  // namespace tarvik
