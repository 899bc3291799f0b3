// The file layer on real folders: whole copies under NFC names, failures that
// name the file and leave nothing behind, a chosen root used byte for byte with
// no link followed below it, and a full volume as NoSpace, also when only
// the new name finds no room.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/CardImage.hpp"
#include "Core/Testing/Mounting.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::filesBelow;
using testing::TempDir;
using testing::writeFile;
using Files = std::map<std::string, std::string>;

const std::string nfdName = "\u304F\u3099\u308B\u307E.mp3";  // くるま with a separate dakuten
const std::string nfcName = "\u3050\u308B\u307E.mp3";
const fs::path megabytes = "/proc/self/exe";  // this test program: megabytes of varied bytes

// Copies land whole under the target's NFC name, replacing a file there;
// failures name that file and leave no temporary behind.
TEST(PosixFS, CopyMakesFoldersAndReplacesTheNFCTargetLeavingNoTemporary) {
    TempDir temp;
    writeFile(temp / "short", "short");
    const fs::path folder = temp / "card" / "Artist";
    PosixFS::copy(megabytes, folder / nfdName);
    EXPECT_EQ(filesBelow(folder), (Files{{nfcName, testing::readFile(megabytes)}}));
    PosixFS::copy(temp / "short", folder / nfdName);
    PosixFS::rename(folder / nfcName, folder / ("2-" + nfdName));
    PosixFS::copy(temp / "short", folder / "caf\xE9.mp3");  // not UTF-8: kept as its bytes
    const Files copied = {{"2-" + nfcName, "short"}, {"caf\xE9.mp3", "short"}};
    EXPECT_EQ(filesBelow(folder), copied);

    fs::create_directories(folder / "taken.mp3" / "inside");
    try {
        PosixFS::copy(temp / "missing", folder / nfdName);
        ADD_FAILURE() << "no error";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.what(), fileSystemMessage("書き込めません: ", nfcName, ENOENT));
    }
    EXPECT_THROW(PosixFS::copy(temp / "short", folder / "taken.mp3"), ConversionError);
    EXPECT_EQ(filesBelow(folder), copied);
}

// A stop lets the file under way finish when it can within the grace; one
// that would take longer (a source that keeps coming, here a pipe fed
// without end) is cut short, its temporary file removed and the target
// untouched: a half file never stays, and the stop is heard within a second.
TEST(PosixFS, AStoppedCopyIsWholeWithinTheGraceOrRemoved) {
    using namespace std::chrono_literals;
    TempDir temp;
    const auto root = PosixFS::rootAt(temp.path());
    ASSERT_TRUE(root);
    std::stop_source stopped;
    stopped.request_stop();
    PosixFS::copy(megabytes, *root, temp / "card" / "whole.mp3", stopped.get_token());
    EXPECT_EQ(testing::readFile(temp / "card" / "whole.mp3"), testing::readFile(megabytes));

    const fs::path pipe = temp / "endless";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::atomic<bool> feeding = true;
    std::jthread feeder([&] {
        // The pipe breaks when the copy stops reading: an error here, no signal.
        sigset_t broken;
        sigemptyset(&broken);
        sigaddset(&broken, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &broken, nullptr);
        const int out = ::open(pipe.c_str(), O_WRONLY | O_CLOEXEC);
        const std::string chunk(4096, 'x');
        // Ends by itself after seconds, so that a copy that does not stop fails here.
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (feeding && std::chrono::steady_clock::now() < end && out >= 0 &&
               ::write(out, chunk.data(), chunk.size()) > 0)
            std::this_thread::sleep_for(1ms);
        if (out >= 0) ::close(out);
    });
    std::stop_source stop;
    std::jthread stopper([&] {
        std::this_thread::sleep_for(100ms);
        stop.request_stop();
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(PosixFS::copy(pipe, *root, temp / "card" / "cut.mp3", stop.get_token()),
                 Cancelled);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
    feeding = false;
    EXPECT_EQ(filesBelow(temp / "card"), (Files{{"whole.mp3", testing::readFile(megabytes)}}));
}

// Only this program's temporary names, and only those nobody writes, are
// leftovers: a copy under way holds its temporary's lock.
TEST(PosixFS, ALeftoverIsAnOwnTemporaryFileThatNobodyWrites) {
    TempDir temp;
    const std::string own = ".tarvik-0f8a3c2e-5b1d-4e6f-9a7b-2c4d6e8f0a1b.part";
    for (const char* name :
         {".tarvik-x.part", "song.part", ".tarvik-0F8A3C2E-5B1D-4E6F-9A7B-2C4D6E8F0A1B.mp3"})
        writeFile(temp / name, "");
    writeFile(temp / own, "half");
    EXPECT_TRUE(PosixFS::isTemporaryName(own));
    EXPECT_FALSE(PosixFS::isTemporaryName(".tarvik-x.part"));
    EXPECT_TRUE(PosixFS::isLeftover(temp / own));
    for (const char* name :
         {".tarvik-x.part", "song.part", ".tarvik-0F8A3C2E-5B1D-4E6F-9A7B-2C4D6E8F0A1B.mp3"})
        EXPECT_FALSE(PosixFS::isLeftover(temp / name)) << name;
    const int writer = ::open((temp / own).c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::flock(writer, LOCK_EX), 0);
    EXPECT_FALSE(PosixFS::isLeftover(temp / own));
    ::close(writer);
    EXPECT_TRUE(PosixFS::isLeftover(temp / own));
}

// A card mounted under an NFD name is that folder, not an NFC twin; levels
// another computer wrote in NFD are found again; nothing is reached through a
// link or outside the root.
TEST(PosixFSRoot, IsUsedByteForByteAndFollowsNoLink) {
    TempDir temp;
    writeFile(temp / "source", "data");
    writeFile(temp / "outside" / "keep", "mine");
    const fs::path folder = temp / ("card-" + nfdName);
    fs::create_directories(folder / nfdName);
    const PosixFS::Root root = *PosixFS::rootAt(folder);
    EXPECT_EQ(PosixFS::copy(temp / "source", root, folder / nfcName / nfdName),
              folder / nfdName / nfcName);
    EXPECT_EQ(filesBelow(folder), (Files{{nfdName + "/" + nfcName, "data"}}));
    EXPECT_FALSE(fs::exists(temp / ("card-" + nfcName)));

    fs::create_directory_symlink(temp / "outside", folder / "Artist");
    writeFile(folder / "file", "");
    for (const std::string relative : {"Artist/01.mp3", "Artist/Album/01.mp3", "../outside/01.mp3",
                                       "Artist/../../outside/01.mp3", "./01.mp3", "file/01.mp3"}) {
        EXPECT_FALSE(PosixFS::locate(root, relative).has_value()) << relative;
        EXPECT_THROW(PosixFS::copy(temp / "source", root, folder / relative), ConversionError)
            << relative;
    }
    EXPECT_THROW(PosixFS::copy(temp / "source", root, temp / "elsewhere.mp3"), ConversionError);
    EXPECT_EQ(filesBelow(temp.path()).size(), 4U);  // source, keep, and the two on the card
    // A link as the last level counts as there; it is not written through.
    fs::create_symlink(temp / "outside" / "keep", folder / "01.mp3");
    EXPECT_TRUE(PosixFS::locate(root, "01.mp3")->exists());
}

// A real full volume: a 256 KiB tmpfs with room for four inodes.
TEST(PosixFS, FullVolumeIsNoSpaceAndLeavesNothing) {
    TempDir temp;
    const fs::path volume = temp / "volume";
    fs::create_directory(volume);
    std::string whyNot;
    const auto tmpfs = testing::Tmpfs::mount(volume, "size=256k,nr_inodes=4", whyNot);
    if (!tmpfs) GTEST_SKIP() << whyNot;
    writeFile(temp / "small", std::string(100 * 1024, 's'));
    writeFile(volume / "Album" / "keep.mp3", "here");
    EXPECT_THROW(PosixFS::copy(megabytes, volume / "Album" / "big.mp3"), PosixFS::NoSpace);
    EXPECT_EQ(filesBelow(volume), (Files{{"Album/keep.mp3", "here"}}));
    // The space and the inode the partial copy took are free again; then no
    // inode is left for a folder.
    PosixFS::copy(temp / "small", volume / "Album" / "small.mp3");
    EXPECT_EQ(filesBelow(volume).size(), 2U);
    const PosixFS::Root root = *PosixFS::rootAt(volume);
    EXPECT_THROW(PosixFS::copy(temp / "small", root, volume / "B" / "01.mp3"), PosixFS::NoSpace);
    EXPECT_THROW(PosixFS::makeDirs(volume / "D" / "E"), PosixFS::NoSpace);
    EXPECT_THROW(PosixFS::copy(temp / "small", volume / "F" / "01.mp3"), PosixFS::NoSpace);
}

// On exFAT a name takes room in its folder: 32-byte entries, two plus one per
// 15 characters. The folder's one cluster is full but for the temporary
// copy's 6 entries and 2 more, and the copy takes the card's last cluster:
// the rename to a name of 150 characters (12 entries) finds no room.
TEST(PosixFS, RenameWithoutRoomForTheNewNameIsNoSpace) {
    std::string whyNot;
    const auto card = testing::CardImage::make(8 << 20, whyNot);
    if (!card) GTEST_SKIP() << "no real exFAT card: " << whyNot;
    const fs::path album = card->root() / "Album";
    fs::create_directory(album);
    struct statvfs volume {};
    ASSERT_EQ(::statvfs(album.c_str(), &volume), 0);
    Files fillers;  // names of 15 characters
    for (std::size_t n = 0; n < (volume.f_bsize / 32 - 6) / 3; ++n) {
        const std::string number = std::to_string(n);
        fillers.emplace("filler-" + std::string(8 - number.size(), '0') + number, "");
    }
    testing::writeFiles(album, fillers);
    ASSERT_EQ(::statvfs(album.c_str(), &volume), 0);
    TempDir temp;
    writeFile(temp / "song", std::string(volume.f_bavail * volume.f_frsize - 1, 's'));

    EXPECT_THROW(PosixFS::copy(temp / "song", album / (std::string(150, 'a') + ".mp3")),
                 PosixFS::NoSpace);
    EXPECT_EQ(filesBelow(album), fillers);
}

}  // namespace
}  // namespace tarvik
