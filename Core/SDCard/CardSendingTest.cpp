#include <gmock/gmock.h>

#include <atomic>
#include <thread>

#include "Core/Convert/ID3Writer.hpp"
#include "Core/Naming/PosixFS.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/WholeFile.hpp"
#include "Core/SDCard/SDCardTools.hpp"
#include "Core/Testing/CardImage.hpp"
#include "Core/Testing/SlowCard.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Testing/Thrown.hpp"

namespace tarvik::SDCardTools {
namespace {

using testing::filesBelow;
using testing::thrown;
using Files = std::map<std::string, std::string>;
using Call = std::tuple<std::int64_t, std::int64_t, std::string>;

// A file exported by the program for album "L" (or `album`): an ID3 tag
// naming the album (by `name` too, if given), then `content`.
std::string own(std::string_view content, std::string album = "4c", std::string name = "") {
    ID3Writer::Tags tags;
    tags.albumIdentity = std::move(album);
    tags.album = std::move(name);
    return std::string(asText(ID3Writer{}.encodeV2(tags, 0))) + std::string(content);
}

FreeSpace room(std::int64_t bytes) {
    return [bytes](const std::filesystem::path&) { return bytes; };
}

// Sending to a card and renaming on it. Every test runs on a card mounted at
// a folder named in NFD: a plain folder,
// and a real exFAT image formatted by mkfs.exfat and mounted through FUSE
// (skipped where the machine allows no loop devices or FUSE). The card is
// written through that very folder, never an NFC-named twin on the system disk.
class OnACard : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        std::string whyNot;
        if (GetParam()) image_ = testing::CardImage::make(16 << 20, whyNot, card_.filename());
        if (GetParam() && !image_) GTEST_SKIP() << "no real exFAT card: " << whyNot;
        if (image_) card_ = image_->root();
        std::filesystem::create_directories(card_);
    }
    void TearDown() override {
        EXPECT_FALSE(std::filesystem::exists(card_.parent_path() / "\u30AC\u30FC\u30C9"));
    }

    // The albums of an export folder holding `files`.
    std::vector<Album> exported(const Files& files) {
        testing::writeFiles(temp_ / "Export", files);
        return exportedAlbums({temp_ / "Export"});
    }

    // Records each call; given a stop source, stops the send at `stopAt`.
    SendProgress recording(std::stop_source* stop = nullptr, std::int64_t stopAt = 0) {
        return [=, this](std::int64_t done, std::int64_t total, const std::string& name) {
            calls_.emplace_back(done, total, name);
            if (stop && done == stopAt) stop->request_stop();
        };
    }

    testing::TempDir temp_;
    std::filesystem::path card_ = temp_ / "\u30AB\u3099\u30FC\u30C9";
    std::unique_ptr<testing::CardImage> image_;
    std::vector<Call> calls_;
};

INSTANTIATE_TEST_SUITE_P(, OnACard, ::testing::Values(false, true),
                         [](const auto& param) { return param.param ? "Exfat" : "Folder"; });

// The card is cleaned before and after; a clash leaves both files, and the
// album's folder that lacks only the Shift-JIS padding keeps its name. Files
// on the card under their card names and of the same size are skipped; the
// room is checked, without margin, for the rest.
TEST_P(OnACard, SendCopiesUnderCardNamesWhatIsNotThere) {
    const std::string in = "\u3042/L\u301C/", on = "\u3042/L~/";
    const std::vector<Album> albums = exported({{in + "1\u301C.MP3", own("one")},
                                                {in + "\u30AC.mp3", own("2")},
                                                {in + "b\xff.m4a", own("3")},
                                                {in + "._1.mp3", ""}});
    const Files clash = {{"C/x\u301C.mp3", "mine"}, {"C/X~.MP3", "theirs"}};
    testing::writeFiles(
        card_, {{"._x", ""}, {in + "\u30AB\u3099.mp3", own("9")}, {in + "1\u301C.MP3", own("1")}});
    testing::writeFiles(card_, clash);
    // The album's own older copy of another size goes again; its copy of the
    // same size stays.
    const auto need = static_cast<std::int64_t>(own("one").size() + own("3").size());
    EXPECT_EQ(thrown<SendError>([&] { send(albums, card_, {}, room(need - 1), {}); }),
              SendError::notEnoughSpace(need, need - 1).description());
    EXPECT_EQ(send(albums, card_, recording(), room(need), {}),
              (SendResult{2,
                          1,
                          need,
                          CleanResult{0, 0, {"x\u301C.mp3", "x\u301C.mp3"}},
                          {},
                          {{"\u3042/L\u301C", "\u3042/L~"}}}));
    Files after = clash;
    after.insert(
        {{on + "1~.MP3", own("one")}, {on + "\u30AC.mp3", own("9")}, {on + "b_.m4a", own("3")}});
    EXPECT_EQ(filesBelow(card_), after);
    // Names reach the progress in NFC, in the album's name order.
    EXPECT_EQ(calls_,
              (std::vector<Call>{
                  {0, 3, "1\u301C.MP3"}, {1, 3, "b\uFFFD.m4a"}, {2, 3, "\u30AC.mp3"}, {3, 3, ""}}));
    EXPECT_TRUE(isOnCard(albums[0], card_));
    // Nothing is needed now, so even a full card passes.
    EXPECT_EQ(send(albums, card_, {}, room(0), {}).skipped, 3);
    EXPECT_THROW(send(albums, temp_ / "gone"), ConversionError);
    EXPECT_FALSE(std::filesystem::exists(temp_ / "gone"));
}

// Two albums exported apart whose card folder is the same, sent one after
// the other: the second never replaces, skips for or merges into the first
// one's files, whatever their sizes and names; each is on the card by what
// its files carry.
TEST_P(OnACard, SendsOfAlbumsWithOneCardFolderKeepBoth) {
    const std::vector<std::pair<std::string, Files>> cases = {
        {"other sizes", {{"X/Best/01.mp3", own("second, longer", "b")}}},
        {"equal sizes", {{"X/Best/01.mp3", own("second", "b")}}},
        {"other names", {{"X/Best/03.mp3", own("third", "b")}}}};
    for (const auto& [name, second] : cases) {
        SCOPED_TRACE(name);
        std::filesystem::remove_all(card_ / "X");
        testing::writeFiles(temp_ / name / "one", {{"X/Best/01.mp3", own("first!", "a")},
                                                   {"X/Best/02.mp3", own("first", "a")}});
        testing::writeFiles(temp_ / name / "two", second);
        const std::vector<Album> first = exportedAlbums({temp_ / name / "one"});
        const std::vector<Album> later = exportedAlbums({temp_ / name / "two"});
        send(first, card_);
        EXPECT_FALSE(isOnCard(later[0], card_));
        EXPECT_EQ(send(later, card_).copied, 1);
        Files expected = {{"X/Best/01.mp3", own("first!", "a")},
                          {"X/Best/02.mp3", own("first", "a")}};
        for (const auto& [path, content] : second) {
            expected.emplace("X/Best 2/" + std::filesystem::path(path).filename().string(),
                             content);
        }
        EXPECT_EQ(filesBelow(card_), expected);
        EXPECT_TRUE(isOnCard(first[0], card_));
        EXPECT_TRUE(isOnCard(later[0], card_));
        EXPECT_EQ(send(later, card_).skipped, 1);  // found again in its own folder
    }
}

// "Café" and "Cafè" are both "Caf_" on the card, where a stranger's album is:
// they take "Caf_ 2" and "Caf_ 3" as an export would number them, and each
// is on the card by its own bytes. Two files of one album that differ in
// case are one file on the card: both are reported and not sent, and their
// album never counts as on the card.
TEST_P(OnACard, SendNumbersAlbumsThatShareACardNameAndRefusesCollidingFiles) {
    const std::vector<Album> albums = exported({{"A/Caf\u00E9/1.mp3", "one"},
                                                {"A/Caf\u00E9/2.mp3", "two"},
                                                {"A/Caf\u00E8/1.mp3", "6"},
                                                {"A/B/x.mp3", "5"},
                                                {"A/B/X.MP3", "6"},
                                                {"A/Ok/1.mp3", "7"}});
    testing::writeFile(card_ / "A" / "Caf_" / "1.mp3", own("xxx", "s"));
    const SendResult result = send(albums, card_, recording());
    EXPECT_EQ(std::set<std::string>(result.failed.begin(), result.failed.end()),
              (std::set<std::string>{"A/B/x.mp3", "A/B/X.MP3"}));
    EXPECT_EQ(calls_.back(), (Call{4, 4, ""}));
    EXPECT_EQ(filesBelow(card_), (Files{{"A/Caf_/1.mp3", own("xxx", "s")},
                                        {"A/Caf_ 2/1.mp3", "one"},
                                        {"A/Caf_ 2/2.mp3", "two"},
                                        {"A/Caf_ 3/1.mp3", "6"},
                                        {"A/Ok/1.mp3", "7"}}));
    EXPECT_EQ(result.places.at("A/Caf\u00E8"), "A/Caf_ 3");
    const std::set<std::string> shared = sharedCardPaths(albums);
    for (const Album& album : albums) EXPECT_EQ(isOnCard(album, card_, shared), album.name != "B");
}

// Albums of one send that a card would put in one folder each get their
// own, numbered as an export numbers them, and are found there again by the
// identity their files carry; a numbered folder never takes the name of
// another listed album, and another album's files never count as theirs.
TEST_P(OnACard, SendPlacesEachAlbumInItsOwnFolder) {
    struct Case {
        std::string name;
        Files exported;  // album folder/file -> content
        Files card;
        std::map<std::string, std::string> places;  // album -> card folder
    };
    const std::vector<Case> cases = {
        {"two albums of one card name",
         {{"X/Best/01.mp3", own("lower", "a")}, {"X/BEST/01.mp3", own("upper", "b")}},
         {},
         {{"X/Best", "X/Best"}, {"X/BEST", "X/BEST 2"}}},
        {"the same, each already on the card under the other number",
         {{"X/Best/01.mp3", own("lower", "a")}, {"X/BEST/01.mp3", own("upper", "b")}},
         {{"X/BEST/01.mp3", own("upper", "b")}, {"X/Best 2/01.mp3", own("lower", "a")}},
         {{"X/Best", "X/Best 2"}, {"X/BEST", "X/BEST"}}},
        {"a stranger at the name, a real album at its next number",
         {{"X/Best/01.mp3", own("one", "a")}, {"X/Best 2/01.mp3", own("two", "c")}},
         {{"X/Best/09.mp3", own("theirs", "s")}},
         {{"X/Best", "X/Best 3"}, {"X/Best 2", "X/Best 2"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(card_ / "X");
        std::filesystem::remove_all(temp_ / "Export");
        const std::vector<Album> albums = exported(c.exported);
        testing::writeFiles(card_, c.card);
        const SendResult first = send(albums, card_);
        EXPECT_EQ(first.places, c.places);
        EXPECT_TRUE(first.failed.empty());
        const std::set<std::string> shared = sharedCardPaths(albums);
        for (const Album& album : albums) EXPECT_TRUE(isOnCard(album, card_, shared)) << album.id();
        const SendResult again = send(albums, card_);
        EXPECT_EQ(again.copied, 0);
        EXPECT_EQ(again.skipped, 2);
        EXPECT_EQ(again.places, c.places);
        for (const auto& [path, content] : c.card) {
            EXPECT_EQ(testing::readFile(card_ / path), content) << path;
        }
    }
}

// An album's folder an earlier export wrote under another name of the album
// takes the album's card name before anything goes into it: the copy that
// names the album otherwise is replaced there, the one as exported stays.
TEST_P(OnACard, SendRenamesTheFolderAnEarlierExportNamedOtherwise) {
    const Files card = {{"X/Old/01.mp3", own("one before", "a", "Old")},
                        {"X/Old/02.mp3", own("two", "a", "New")}};
    const std::vector<Album> albums = exported(
        {{"X/New/01.mp3", own("one", "a", "New")}, {"X/New/02.mp3", own("two", "a", "New")}});
    testing::writeFiles(card_, card);
    EXPECT_FALSE(isOnCard(albums[0], card_));
    const SendResult sent = send(albums, card_);
    EXPECT_EQ(sent.places, (std::map<std::string, std::string>{{"X/New", "X/New"}}));
    EXPECT_EQ(sent.copied, 1);
    EXPECT_EQ(sent.skipped, 1);
    EXPECT_EQ(filesBelow(card_), (Files{{"X/New/01.mp3", own("one", "a", "New")},
                                        {"X/New/02.mp3", own("two", "a", "New")}}));
    EXPECT_TRUE(isOnCard(albums[0], card_));
}

// A stop takes effect before the next file; a source gone since it was listed
// ends the send at once. Either way only whole files are on the card.
TEST_P(OnACard, StopOrFailureEndsTheSendBeforeTheNextFile) {
    const std::vector<Album> albums =
        exported({{"Ar/A1/1.mp3", "x"}, {"Ar/A1/2.mp3", "xx"}, {"Ar/A2/1.mp3", "xxx"}});
    std::stop_source now, later;
    now.request_stop();
    EXPECT_EQ(send(albums, card_, recording(), now.get_token()).copied, 0);
    EXPECT_EQ(send(albums, card_, recording(&later, 1), later.get_token()).copied, 2);
    EXPECT_EQ(calls_,
              (std::vector<Call>{{0, 3, ""}, {0, 3, "1.mp3"}, {1, 3, "2.mp3"}, {2, 3, ""}}));
    EXPECT_EQ(filesBelow(card_), (Files{{"Ar/A1/1.mp3", "x"}, {"Ar/A1/2.mp3", "xx"}}));

    std::filesystem::remove_all(card_ / "Ar");
    std::filesystem::remove(temp_ / "Export" / "Ar" / "A1" / "2.mp3");
    EXPECT_THAT(thrown<ConversionError>([&] { send(albums, card_); }),
                ::testing::StartsWith("書き込めません: 2.mp3（"));
    EXPECT_EQ(filesBelow(card_), (Files{{"Ar/A1/1.mp3", "x"}}));
}

// A send cut short by a kill or a quit left its temporary file in the album's
// folder: the next send removes it, as its cleaning removes the desktop's
// companions, and counts it with them.
TEST_P(OnACard, SendRemovesWhatACopyCutShortLeftBehind) {
    const std::vector<Album> albums = exported({{"Ar/Al/1.mp3", "x"}});
    const std::string left = "Ar/Al/.tarvik-0f8a3c2e-5b1d-4e6f-9a7b-2c4d6e8f0a1b.part";
    testing::writeFiles(card_, {{left, "half a song"}});
    const SendResult result = send(albums, card_);
    EXPECT_EQ(result.copied, 1);
    EXPECT_EQ(result.clean.removed, 1);
    EXPECT_EQ(filesBelow(card_), (Files{{"Ar/Al/1.mp3", "x"}}));
}

// A link in place of an artist folder leads off the card: the send names it
// and writes nothing, through it or anywhere else.
TEST(SendThroughLinks, ALinkAboveAnAlbumFolderStopsTheSendBeforeAnyCopy) {
    testing::TempDir temp;
    testing::writeFiles(temp / "Export", {{"Ar/Al/1.mp3", "x"}, {"Bo/Al/1.mp3", "y"}});
    std::filesystem::create_directories(temp / "card");
    std::filesystem::create_directories(temp / "outside");
    std::filesystem::create_directory_symlink(temp / "outside", temp / "card/Bo");
    EXPECT_EQ(
        thrown<ConversionError>([&] { send(exportedAlbums({temp / "Export"}), temp / "card"); }),
        "書き出し先のフォルダがリンクです: " + (temp / "card/Bo").string());
    EXPECT_TRUE(filesBelow(temp / "card").empty());
    EXPECT_TRUE(std::filesystem::is_empty(temp / "outside"));
}

// A stop while the card's files are read to place the albums ends the send
// within a second, in the middle of a file: nothing is copied, and every
// file is told as not sent.
TEST(SendStop, StopWhileTheCardIsReadEndsTheSendWithinASecond) {
    using namespace std::chrono_literals;
    testing::TempDir temp;
    testing::writeFiles(temp / "Export", {{"Ar/Al/1.mp3", "x"}, {"Ar/Al/2.mp3", "xx"}});
    testing::writeSlowCardFiles(temp / "card/Ar/Al");
    std::vector<Call> calls;
    std::stop_source stop;
    std::atomic<std::chrono::steady_clock::time_point> stopped{};
    const std::jthread stopper([&] {
        std::this_thread::sleep_for(100ms);
        stopped = std::chrono::steady_clock::now();
        stop.request_stop();
    });
    const SendResult result = send(
        exportedAlbums({temp / "Export"}), temp / "card",
        [&](std::int64_t done, std::int64_t total, const std::string& name) {
            calls.emplace_back(done, total, name);
        },
        stop.get_token());
    const auto late = std::chrono::steady_clock::now() - stopped.load();
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(late).count(), 1000);
    EXPECT_EQ(result.copied, 0);
    EXPECT_EQ(calls, (std::vector<Call>{{0, 2, ""}}));
}

// A file without identity or tags beside the album's own name is compared
// with the album's files byte for byte: a stop in the middle of eight
// gigabytes of that ends the send within a second, and nothing is copied.
TEST(SendStop, StopWhileComparingBytesEndsTheSendWithinASecond) {
    using namespace std::chrono_literals;
    testing::TempDir temp;
    constexpr std::uintmax_t size = std::uintmax_t{8} << 30;  // sparse: no room taken
    testing::writeFile(temp / "Export/Ar/Al/1.mp3", "");
    testing::writeFile(temp / "card/Ar/Al/old.mp3", "");
    std::filesystem::resize_file(temp / "Export/Ar/Al/1.mp3", size);
    std::filesystem::resize_file(temp / "card/Ar/Al/old.mp3", size);
    std::stop_source stop;
    std::atomic<std::chrono::steady_clock::time_point> stopped{};
    const std::jthread stopper([&] {
        std::this_thread::sleep_for(100ms);
        stopped = std::chrono::steady_clock::now();
        stop.request_stop();
    });
    const SendResult result =
        send(exportedAlbums({temp / "Export"}), temp / "card", {}, stop.get_token());
    const auto late = std::chrono::steady_clock::now() - stopped.load();
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(late).count(), 1000);
    EXPECT_EQ(result.copied, 0);
    EXPECT_EQ(std::distance(std::filesystem::recursive_directory_iterator(temp / "card"), {}), 3);
}

// Only a real card has a room of its own.
class OnARealCard : public OnACard {};
INSTANTIATE_TEST_SUITE_P(Exfat, OnARealCard, ::testing::Values(true));

// The room is checked before the first copy; a card that fills up for real
// during one leaves no part file.
TEST_P(OnARealCard, SendBeyondTheRoomLeavesNothing) {
    const std::vector<Album> albums = exported({{"Ar/Al/1.mp3", ""}});
    const std::int64_t free = freeBytes(card_);
    std::filesystem::resize_file(temp_ / "Export/Ar/Al/1.mp3",
                                 static_cast<std::uint64_t>(free) + 1);
    EXPECT_EQ(thrown<SendError>([&] { send(albums, card_); }),
              SendError::notEnoughSpace(free + 1, free).what());
    EXPECT_THROW(send(albums, card_, {}, room(unknownFreeBytes), {}), PosixFS::NoSpace);
    EXPECT_TRUE(filesBelow(card_).empty());
}

// A rename never takes the place of another file, whatever the case or normal
// form; one that fails at the last step leaves the old name byte for byte; a
// case-blind file system still takes one that changes only the case.
TEST_P(OnACard, RenameReplacesNothing) {
    const std::string nfd = "\u30AB\u3099x.mp3", tooLong = std::string(300, 'a') + ".mp3";
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"y.MP3", "Y.mp3", "同じ名前のファイルがあります: Y.mp3"},
        {"\u30AC.mp3", "\u30AB\u3099.MP3", "同じ名前のファイルがあります: \u30AB\u3099.MP3"},
        {"", tooLong, "名前を付けられません: " + tooLong + "（"},
    };
    int n = 0;  // each case in a folder of its own
    for (const auto& [existing, newName, message] : cases) {
        const auto folder = card_ / std::to_string(++n);
        Files files = {{nfd, "x"}};
        if (!existing.empty()) files[existing] = "y";
        testing::writeFiles(folder, files);
        EXPECT_THAT(thrown<ConversionError>([&] { renameOnCard(folder / nfd, newName); }),
                    ::testing::StartsWith(message));
        EXPECT_EQ(filesBelow(folder), files);
    }
    testing::writeFile(card_ / "ABC.MP3", "x");
    renameOnCard(card_ / "ABC.MP3", "abc.mp3");
    EXPECT_TRUE(filesBelow(card_).contains("abc.mp3"));
}

}  // namespace
}  // namespace tarvik::SDCardTools
