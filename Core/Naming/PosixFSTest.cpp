// The file layer on real folders: whole copies under NFC names, failures that
// name the file and leave nothing behind, a chosen root used byte for byte with
// no link followed below it, and a full volume as NoSpace.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <algorithm>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;
using Names = std::vector<std::string>;

const std::string nfdName = "\u304F\u3099\u308B\u307E.mp3";  // くるま with a separate dakuten
const std::string nfcName = "\u3050\u308B\u307E.mp3";

Names namesIn(const fs::path& folder) {
    Names names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::string someData(std::size_t length) {
    std::string data(length, '\0');
    for (std::size_t i = 0; i < length; ++i) data[i] = static_cast<char>((i * 7919) >> 3);
    return data;
}

// Copies land whole under the target's NFC name, replacing a file there;
// failures name that file and leave no temporary behind.
TEST(PosixFS, CopyMakesFoldersAndReplacesTheNFCTargetLeavingNoTemporary) {
    TempDir temp;
    writeFile(temp / "first", someData(3 * 1024 * 1024 + 17));
    writeFile(temp / "second", "short");
    const fs::path folder = temp / "card" / "Artist";
    PosixFS::copy(temp / "first", folder / nfdName);
    EXPECT_EQ(readFile(folder / nfcName), readFile(temp / "first"));
    PosixFS::copy(temp / "second", folder / nfdName);
    PosixFS::rename(folder / nfcName, folder / ("2-" + nfdName));
    PosixFS::copy(temp / "second", folder / "caf\xE9.mp3");  // not UTF-8: kept as its bytes
    EXPECT_EQ(readFile(folder / ("2-" + nfcName)) + readFile(folder / "caf\xE9.mp3"), "shortshort");

    fs::create_directories(folder / "taken.mp3" / "inside");
    try {
        PosixFS::copy(temp / "missing", folder / nfdName);
        ADD_FAILURE() << "no error";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.what(), fileSystemMessage("書き込めません: ", nfcName, ENOENT));
    }
    EXPECT_THROW(PosixFS::copy(temp / "second", folder / "taken.mp3"), ConversionError);
    EXPECT_EQ(namesIn(folder), (Names{"2-" + nfcName, "caf\xE9.mp3", "taken.mp3"}));
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
    EXPECT_EQ(namesIn(temp.path()), (Names{"card-" + nfdName, "outside", "source"}));
    EXPECT_EQ(namesIn(folder / nfdName), Names{nfcName});

    fs::create_directory_symlink(temp / "outside", folder / "Artist");
    writeFile(folder / "file", "");
    EXPECT_FALSE(PosixFS::isDirectory(folder / "Artist"));
    for (const std::string relative : {"Artist/01.mp3", "Artist/Album/01.mp3", "../outside/01.mp3",
                                       "Artist/../../outside/01.mp3", "./01.mp3", "file/01.mp3"}) {
        EXPECT_FALSE(PosixFS::locate(root, relative).has_value()) << relative;
        EXPECT_THROW(PosixFS::copy(temp / "source", root, folder / relative), ConversionError)
            << relative;
    }
    EXPECT_EQ(namesIn(temp / "outside"), Names{"keep"});
    EXPECT_THROW(PosixFS::copy(temp / "source", root, temp / "elsewhere.mp3"), ConversionError);
    EXPECT_FALSE(fs::exists(temp / "elsewhere.mp3"));
    // A link as the last level counts as there; it is not written through.
    fs::create_symlink(temp / "outside" / "keep", folder / "01.mp3");
    EXPECT_TRUE(PosixFS::locate(root, "01.mp3")->exists());
}

// A real full volume: a 256 KiB tmpfs with room for four inodes. Mounting
// needs privileges that CI may lack; then the test skips.
TEST(PosixFS, FullVolumeIsNoSpaceAndLeavesNothing) {
    TempDir temp;
    const fs::path volume = temp / "volume";
    fs::create_directory(volume);
    if (::mount("tmpfs", volume.c_str(), "tmpfs", 0, "size=256k,nr_inodes=4") != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    struct Unmount {
        fs::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{volume};
    writeFile(temp / "big", someData(1024 * 1024));
    writeFile(temp / "small", someData(100 * 1024));
    writeFile(volume / "Album" / "keep.mp3", "already here");
    EXPECT_THROW(PosixFS::copy(temp / "big", volume / "Album" / "big.mp3"), PosixFS::NoSpace);
    EXPECT_EQ(namesIn(volume / "Album"), Names{"keep.mp3"});
    // The space and the inode the partial copy took are free again; then no
    // inode is left for a folder.
    PosixFS::copy(temp / "small", volume / "Album" / "small.mp3");
    EXPECT_EQ(readFile(volume / "Album" / "small.mp3"), someData(100 * 1024));
    const PosixFS::Root root = *PosixFS::rootAt(volume);
    EXPECT_THROW(PosixFS::copy(temp / "small", root, volume / "B" / "01.mp3"), PosixFS::NoSpace);
    EXPECT_THROW(PosixFS::makeDirs(volume / "D" / "E"), PosixFS::NoSpace);
    EXPECT_THROW(PosixFS::copy(temp / "small", volume / "F" / "01.mp3"), PosixFS::NoSpace);
}

}  // namespace
}  // namespace tarvik
