#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <stop_token>
#include <string>
#include <tuple>
#include <vector>

#include "Core/Platform/Errors.hpp"
#include "Core/SDCard/CardSending.hpp"
#include "Core/SDCard/CardVolumes.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::SDCardTools {
namespace {

using testing::filesBelow;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

using Call = std::tuple<std::int64_t, std::int64_t, std::string>;

FreeSpace room(std::int64_t bytes) {
    return [bytes](const std::filesystem::path&) { return bytes; };
}

class CardSending : public ::testing::Test {
protected:
    std::filesystem::path exportFolder() const { return temp_ / "Export"; }
    std::filesystem::path card() const { return temp_ / "card"; }

    // Three albums of two files each; file n holds n bytes.
    std::vector<Album> sixFiles() {
        int n = 1;
        for (const char* album : {"A1", "A2", "A3"}) {
            for (const char* file : {"1.mp3", "2.mp3"}) {
                writeFile(exportFolder() / "Artist" / album / file, std::string(n++, 'x'));
            }
        }
        return exportedAlbums({exportFolder()});
    }

    SendProgress recording() {
        return [this](std::int64_t done, std::int64_t total, const std::string& name) {
            calls_.emplace_back(done, total, name);
        };
    }

    TempDir temp_;
    std::vector<Call> calls_;

    void SetUp() override { std::filesystem::create_directories(card()); }
};

TEST_F(CardSending, EmptyListCleansTwiceAndReportsOnce) {
    writeFile(card() / "._before", "x");
    const SendProgress progress = [this](std::int64_t done, std::int64_t total,
                                         const std::string& name) {
        calls_.emplace_back(done, total, name);
        writeFile(card() / "._during", "x");  // for the second cleaning to find
    };
    const SendResult result = send({}, card(), progress);
    EXPECT_EQ(result, (SendResult{0, 0, 0, CleanResult{2, 0, {}}, {}}));
    EXPECT_EQ(calls_, (std::vector<Call>{{0, 0, ""}}));
    EXPECT_TRUE(filesBelow(card()).empty());
}

TEST_F(CardSending, CopiesUnderCardNames) {
    const std::string decomposed = "\u30AB\u3099";
    writeFile(exportFolder() / "\u3042" / "Live\u301C" / "01\u301C.MP3", "one");
    writeFile(exportFolder() / "\u3042" / "Live\u301C" / (decomposed + ".mp3"), "two");
    writeFile(exportFolder() / "\u3042" / "Live\u301C" / "bad\xff.m4a", "three");
    writeFile(exportFolder() / "\u3042" / "Live\u301C" / "._01.mp3", "companion");
    writeFile(exportFolder() / "\u3042" / "Live\u301C" / "cover.jpg", "picture");
    const SendResult result = send(exportedAlbums({exportFolder()}), card(), recording());
    EXPECT_EQ(result, (SendResult{3, 0, 11, CleanResult{}, {}}));
    const std::string folder = "\u3042\u3000\u3000\u3000\u3000/Live~/";
    EXPECT_EQ(filesBelow(card()), (std::map<std::string, std::string>{
                                      {folder + "01~.MP3", "one"},
                                      {folder + "\u30AC.mp3", "two"},
                                      {folder + "bad_.m4a", "three"},
                                  }));
    // Names reach the progress in NFC, in the album's name order.
    EXPECT_EQ(
        calls_,
        (std::vector<Call>{
            {0, 3, "01\u301C.MP3"}, {1, 3, "bad\uFFFD.m4a"}, {2, 3, "\u30AC.mp3"}, {3, 3, ""}}));
}

// A card mounted at a folder named in NFD is written through that very
// folder, never through an NFC-named twin that would sit on the system disk;
// a file already there under its NFD name is found and skipped.
TEST_F(CardSending, CardFolderNamedInNfdIsUsedByteForByte) {
    const auto decomposedCard = temp_ / "\u30AB\u3099\u30FC\u30C9";  // "カード" in NFD
    const auto composedTwin = temp_ / "\u30AC\u30FC\u30C9";
    std::filesystem::create_directories(decomposedCard);
    writeFile(exportFolder() / "Artist" / "Album" / "01.mp3", "one");
    writeFile(exportFolder() / "Artist" / "Album" / "02.mp3", "two");
    writeFile(decomposedCard / "Artist" / "Album" / "02.mp3", "owt");
    const std::vector<Album> albums = exportedAlbums({exportFolder()});

    EXPECT_EQ(send(albums, decomposedCard, {}, room(unknownFreeBytes), {}),
              (SendResult{1, 1, 3, CleanResult{}, {}}));
    EXPECT_FALSE(std::filesystem::exists(composedTwin));
    EXPECT_EQ(filesBelow(decomposedCard), (std::map<std::string, std::string>{
                                              {"Artist/Album/01.mp3", "one"},
                                              {"Artist/Album/02.mp3", "owt"},
                                          }));
    EXPECT_TRUE(isOnCard(albums[0], decomposedCard));
}

TEST_F(CardSending, MissingCardFolderIsAnErrorAndNothingIsMade) {
    writeFile(exportFolder() / "Artist" / "Album" / "01.mp3", "one");
    const auto gone = temp_ / "gone";
    EXPECT_THROW(send(exportedAlbums({exportFolder()}), gone, {}, room(unknownFreeBytes), {}),
                 ConversionError);
    EXPECT_FALSE(std::filesystem::exists(gone));
}

TEST_F(CardSending, RoomIsCheckedWithoutMargin) {
    const std::vector<Album> albums = sixFiles();  // 21 bytes
    writeFile(card() / "._junk", "x");
    try {
        send(albums, card(), {}, room(20), {});
        FAIL() << "no error";
    } catch (const SendError& error) {
        EXPECT_EQ(error, SendError::notEnoughSpace(21, 20));
        EXPECT_EQ(error.need(), 21);
        EXPECT_EQ(error.free(), 20);
        EXPECT_STREQ(error.what(),
                     "SD カードの空きが足りません（必要 21 バイト / 空き 20 バイト）");
    }
    EXPECT_TRUE(filesBelow(card()).empty());  // nothing copied; the first cleaning stays done

    EXPECT_STREQ(SendError::notEnoughSpace(1234567890, 532000).what(),
                 "SD カードの空きが足りません（必要 1.23 GB / 空き 532 KB）");

    EXPECT_EQ(send(albums, card(), {}, room(21), {}).copied, 6);
}

TEST_F(CardSending, FilesAlreadyThereWithTheSameSizeAreSkipped) {
    const std::vector<Album> albums = sixFiles();
    EXPECT_EQ(send(albums, card(), {}, room(unknownFreeBytes), {}).copied, 6);
    // Everything is there: nothing is needed, so even a full card passes.
    const SendResult again = send(albums, card(), {}, room(0), {});
    EXPECT_EQ(again, (SendResult{0, 6, 0, CleanResult{}, {}}));

    // A target of another size is needed and copied again.
    writeFile(card() / "Artist" / "A2" / "1.mp3", "changed size");
    try {
        send(albums, card(), {}, room(2), {});
        FAIL() << "no error";
    } catch (const SendError& error) {
        EXPECT_EQ(error, SendError::notEnoughSpace(3, 2));
    }
    EXPECT_EQ(send(albums, card(), {}, room(3), {}), (SendResult{1, 5, 3, CleanResult{}, {}}));
    EXPECT_EQ(readFile(card() / "Artist" / "A2" / "1.mp3"), "xxx");
}

TEST_F(CardSending, CollidingCardNamesAreReportedAndTheRestIsCopied) {
    // "Café" and "Cafè" are both "Caf_" on the card.
    writeFile(exportFolder() / "Artist" / "Caf\u00E9" / "01 Intro.mp3", "one");
    writeFile(exportFolder() / "Artist" / "Caf\u00E9" / "02 Song.mp3", "two");
    writeFile(exportFolder() / "Artist" / "Caf\u00E8" / "01 Intro.mp3", "three");
    writeFile(exportFolder() / "Artist" / "Caf\u00E8" / "03 Other.mp3", "four");
    writeFile(exportFolder() / "Artist" / "Both" / "Caf\u00E9.mp3", "five");
    writeFile(exportFolder() / "Artist" / "Both" / "Caf\u00E8.mp3", "six");
    writeFile(exportFolder() / "Artist" / "Both" / "ok.mp3", "seven");
    const std::vector<Album> albums = exportedAlbums({exportFolder()});
    // The card already holds one file under the shared name, of the same size
    // as one of the two sources: it must not make either look sent.
    writeFile(card() / "Artist" / "Caf_" / "01 Intro.mp3", "xxx");

    const SendResult result = send(albums, card(), recording(), room(unknownFreeBytes), {});
    EXPECT_EQ(result.copied, 3);
    EXPECT_EQ(result.skipped, 0);
    EXPECT_EQ(std::set<std::string>(result.failed.begin(), result.failed.end()),
              (std::set<std::string>{"Artist/Both/Caf\u00E9.mp3", "Artist/Both/Caf\u00E8.mp3",
                                     "Artist/Caf\u00E9/01 Intro.mp3",
                                     "Artist/Caf\u00E8/01 Intro.mp3"}));
    EXPECT_EQ(calls_.back(), (Call{3, 3, ""}));
    EXPECT_EQ(filesBelow(card()),
              (std::map<std::string, std::string>{{"Artist/Both/ok.mp3", "seven"},
                                                  {"Artist/Caf_/01 Intro.mp3", "xxx"},
                                                  {"Artist/Caf_/02 Song.mp3", "two"},
                                                  {"Artist/Caf_/03 Other.mp3", "four"}}));
    const std::set<std::string> shared = sharedCardPaths(albums);
    for (const Album& album : albums) EXPECT_FALSE(isOnCard(album, card(), shared)) << album.id();
}

TEST_F(CardSending, CancelTakesEffectBeforeTheNextFile) {
    struct Case {
        std::string what;
        std::int64_t stopAt;  // the progress count at which the flag is set; -1: before the send
        std::int64_t copied;
        std::vector<Call> calls;
    };
    const std::vector<Case> cases = {
        {"before the first file", -1, 0, {{0, 6, ""}}},
        {"while the second file is copied", 1, 2, {{0, 6, "1.mp3"}, {1, 6, "2.mp3"}, {2, 6, ""}}},
    };
    for (const Case& c : cases) {
        TempDir temp;
        int n = 1;
        for (const char* album : {"A1", "A2", "A3"}) {
            for (const char* file : {"1.mp3", "2.mp3"}) {
                writeFile(temp / "Export" / "Artist" / album / file, std::string(n++, 'x'));
            }
        }
        const auto cardRoot = temp / "card";
        std::filesystem::create_directories(cardRoot);
        writeFile(cardRoot / "._junk", "x");

        std::stop_source source;
        if (c.stopAt < 0) source.request_stop();
        std::vector<Call> calls;
        const SendProgress progress = [&](std::int64_t done, std::int64_t total,
                                          const std::string& name) {
            calls.emplace_back(done, total, name);
            if (done == c.stopAt) source.request_stop();
        };
        const SendResult result =
            send(exportedAlbums({temp / "Export"}), cardRoot, progress, source.get_token());
        EXPECT_EQ(result.copied, c.copied) << c.what;
        EXPECT_EQ(result.clean, (CleanResult{1, 0, {}})) << c.what;
        EXPECT_EQ(calls, c.calls) << c.what;
        // Only whole files on the card, and no temporary one.
        const std::map<std::string, std::string> files = filesBelow(cardRoot);
        EXPECT_EQ(static_cast<std::int64_t>(files.size()), c.copied) << c.what;
        for (const auto& [path, content] : files) {
            EXPECT_FALSE(path.find(".tarvik-") != std::string::npos) << path;
        }
    }
}

TEST_F(CardSending, FailedCopyStopsAtOnceAndKeepsEarlierFiles) {
    Album album = makeAlbum(exportFolder() / "Artist" / "Album",
                            {"1.mp3", "2.mp3", "3.mp3", "4.mp3"}, 0, exportFolder());
    for (const char* file : {"1.mp3", "2.mp3", "4.mp3"}) {
        writeFile(exportFolder() / "Artist" / "Album" / file, file);
    }
    // 3.mp3 has vanished from the export since it was listed.
    const SendProgress progress = [this](std::int64_t done, std::int64_t total,
                                         const std::string& name) {
        calls_.emplace_back(done, total, name);
        writeFile(card() / "._late", "x");  // a second cleaning would remove it
    };
    try {
        send({album}, card(), progress);
        FAIL() << "no error";
    } catch (const ConversionError& error) {
        EXPECT_TRUE(std::string(error.what()).starts_with("書き込めません: 3.mp3（"))
            << error.what();
    }
    EXPECT_EQ(calls_, (std::vector<Call>{{0, 4, "1.mp3"}, {1, 4, "2.mp3"}, {2, 4, "3.mp3"}}));
    EXPECT_EQ(
        filesBelow(card()),
        (std::map<std::string, std::string>{
            {"._late", "x"}, {"Artist/Album/1.mp3", "1.mp3"}, {"Artist/Album/2.mp3", "2.mp3"}}));
}

}  // namespace
}  // namespace tarvik::SDCardTools
