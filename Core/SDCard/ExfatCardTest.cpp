// The card tools on a real exFAT file system: an image formatted by
// mkfs.exfat and mounted through FUSE. Skipped where the machine allows no
// loop devices or FUSE.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Core/Naming/PosixFS.hpp"
#include "Core/SDCard/SDCardTools.hpp"
#include "Core/Testing/CardImage.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::SDCardTools {
namespace {

using testing::CardImage;
using testing::filesBelow;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

constexpr std::uint64_t cardBytes = 16 * 1024 * 1024;

class ExfatCard : public ::testing::Test {
protected:
    void SetUp() override {
        std::string whyNot;
        card_ = CardImage::make(cardBytes, whyNot);
        if (!card_) GTEST_SKIP() << "no real exFAT card: " << whyNot;
    }

    const std::filesystem::path& card() const { return card_->root(); }

    std::unique_ptr<CardImage> card_;
    TempDir temp_;
};

TEST_F(ExfatCard, IsACardWhenItsDiskIsRemovable) {
    const std::optional<VolumeInfo> facts = systemVolumeFacts().volumeOf(card());
    ASSERT_TRUE(facts.has_value());
    EXPECT_EQ(facts->fileSystemType, "exfat");  // a fuseblk mount, judged by its device
    EXPECT_EQ(facts->rootFileSystem, false);
    // A loop device is no removable medium, so on its own it is no card ...
    EXPECT_EQ(facts->removable, false);
    EXPECT_FALSE(isCardVolume(card()));

    // ... but the same volume on a disk that says it is removable is one.
    struct stat device {};
    ASSERT_EQ(::stat(card_->device().c_str(), &device), 0);
    const auto disk =
        temp_ / "sys" /
        (std::to_string(::major(device.st_rdev)) + ":" + std::to_string(::minor(device.st_rdev)));
    writeFile(disk / "removable", "1\n");
    EXPECT_TRUE(isCardVolume(card(), SystemVolumeFacts({.blockDevices = temp_ / "sys"})));
}

TEST_F(ExfatCard, IsCleanedAndReceivesASend) {
    writeFile(card() / "._junk", "fork");
    writeFile(card() / "Old\u301C" / "01\u301C.mp3", "old");
    writeFile(card() / "Old\u301C" / "ABC.MP3", "case");  // already safe: left alone
    writeFile(card() / "Clash" / "x\u301C.mp3", "mine");
    writeFile(card() / "Clash" / "X~.MP3", "theirs");

    const auto source = temp_ / "Export" / "\u3042" / "Live\u301C";
    writeFile(source / "01 Song\u301C.mp3", std::string(100000, 'a'));
    writeFile(source / "02 Caf\u00E9.m4a", std::string(200000, 'b'));
    const std::vector<Album> albums = exportedAlbums({temp_ / "Export"});
    ASSERT_EQ(albums.size(), 1U);
    EXPECT_FALSE(isOnCard(albums[0], card()));

    const SendResult result = send(albums, card());
    EXPECT_EQ(result.copied, 2);
    EXPECT_EQ(result.bytes, 300000);
    EXPECT_EQ(result.clean.removed, 1);
    EXPECT_EQ(result.clean.renamed, 2);  // "01〜.mp3" and "Old〜"
    // Both runs tried the clash, the later run's name first.
    EXPECT_EQ(result.clean.failed, (std::vector<std::string>{"x\u301C.mp3", "x\u301C.mp3"}));
    EXPECT_TRUE(isOnCard(albums[0], card()));

    const std::string album = "\u3042\u3000\u3000\u3000\u3000/Live~/";
    EXPECT_EQ(filesBelow(card()), (std::map<std::string, std::string>{
                                      {"Old~/01~.mp3", "old"},
                                      {"Old~/ABC.MP3", "case"},
                                      {"Clash/x\u301C.mp3", "mine"},
                                      {"Clash/X~.MP3", "theirs"},
                                      {album + "01 Song~.mp3", std::string(100000, 'a')},
                                      {album + "02 Caf_.m4a", std::string(200000, 'b')},
                                  }));

    const SendResult again = send(albums, card());
    EXPECT_EQ(again.copied, 0);
    EXPECT_EQ(again.skipped, 2);
}

TEST_F(ExfatCard, CaseOnlyRenameOnACaseBlindFileSystem) {
    writeFile(card() / "ABC.mp3", "music");
    renameOnCard(card() / "ABC.mp3", "abc.mp3");
    EXPECT_EQ(listNames(card()), std::vector<std::string>{"abc.mp3"});
}

TEST_F(ExfatCard, SendNeedingMoreThanTheRoomCopiesNothing) {
    const std::int64_t free = freeBytes(card());
    ASSERT_GT(free, 0);
    ASSERT_LT(free, static_cast<std::int64_t>(cardBytes));
    const auto source = temp_ / "Export" / "Artist" / "Album";
    std::filesystem::create_directories(source);
    // Sparse files: large on paper, nothing on the disk.
    writeFile(source / "1.mp3", "");
    std::filesystem::resize_file(source / "1.mp3", static_cast<std::uintmax_t>(free));
    const std::vector<Album> exact = exportedAlbums({temp_ / "Export"});

    // Exactly the room: the check passes (stopped before the first copy).
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(send(exact, card(), {}, stop.get_token()).copied, 0);

    std::filesystem::resize_file(source / "1.mp3", static_cast<std::uintmax_t>(free) + 1);
    const std::vector<Album> tooMuch = exportedAlbums({temp_ / "Export"});
    try {
        send(tooMuch, card());
        FAIL() << "no error";
    } catch (const SendError& error) {
        EXPECT_EQ(error, SendError::notEnoughSpace(free + 1, free));
    }
    EXPECT_TRUE(filesBelow(card()).empty());
}

TEST_F(ExfatCard, CardFillingUpDuringTheCopyLeavesNoPartFile) {
    const auto source = temp_ / "Export" / "Artist" / "Album";
    writeFile(source / "1.mp3", std::string(cardBytes, 'x'));
    // The room is misread as ample, so the card fills up for real.
    const FreeSpace ample = [](const std::filesystem::path&) { return unknownFreeBytes; };
    EXPECT_THROW(send(exportedAlbums({temp_ / "Export"}), card(), {}, ample, {}), PosixFS::NoSpace);
    for (const Entry& entry : walk(card())) {
        EXPECT_FALSE(entry.name.starts_with(".tarvik-")) << entry.name;
    }
}

}  // namespace
}  // namespace tarvik::SDCardTools

namespace tarvik::SDCardTools {
namespace {

// A card mounted at a folder named in NFD receives the send itself: nothing
// lands in an NFC-named twin folder on the system disk.
TEST(ExfatCardNamedInNfd, ReceivesTheSend) {
    std::string whyNot;
    const auto nfdCard = testing::CardImage::make(cardBytes, whyNot, "\u30AB\u3099\u30FC\u30C9");
    if (!nfdCard) GTEST_SKIP() << "no real exFAT card: " << whyNot;
    testing::TempDir temp;
    testing::writeFile(temp / "Export" / "Artist" / "Album" / "01.mp3", std::string(1000, 'a'));
    const std::vector<Album> albums = exportedAlbums({temp / "Export"});

    EXPECT_EQ(send(albums, nfdCard->root()).copied, 1);
    EXPECT_TRUE(isOnCard(albums[0], nfdCard->root()));
    EXPECT_FALSE(std::filesystem::exists(nfdCard->root().parent_path() / "\u30AC\u30FC\u30C9"));
    EXPECT_EQ(testing::filesBelow(nfdCard->root()).size(), 1U);
}

}  // namespace
}  // namespace tarvik::SDCardTools
