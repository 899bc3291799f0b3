#include <gtest/gtest.h>
#include <sys/stat.h>

#include "App/Model/MusicDrive.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::MusicDrive {
namespace {

namespace fs = std::filesystem;

std::uint64_t deviceOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_dev;
}

// A machine's folders: a drive at media/USB holding the library, a card at
// media/CARD, a folder whose name only begins like the drive's, and the
// user's home with links into the drive.
class MusicDriveTest : public ::testing::Test {
protected:
    MusicDriveTest() {
        for (const char* folder :
             {"media/USB/Music/BTS/Album", "media/CARD", "media/USB2", "home/Music", "other"})
            fs::create_directories(temp_ / folder);
        fs::create_directory_symlink(temp_ / "media/USB/Music", temp_ / "home/Linked");
        fs::create_directory_symlink(temp_ / "media/CARD", temp_ / "home/Music/Card Artist");
        fs::create_symlink(temp_ / "media/USB2/none", temp_ / "home/Music/dangling");
    }

    VolumeService::Mounted volume(const std::string& folder) const {
        return {.path = temp_ / folder};
    }

    testing::TempDir temp_;
};

TEST_F(MusicDriveTest, AVolumeHoldsTheLibraryByWhereItReallyLies) {
    const fs::path onDrive = temp_ / "media/USB/Music";
    struct Case {
        const char* what;
        fs::path music;
        VolumeService::Mounted volume;
        bool holds;
    };
    VolumeService::Mounted sameFileSystem = volume("other");
    sameFileSystem.device = deviceOf(onDrive);
    const std::vector<Case> cases = {
        {"the music folder on the volume", onDrive, volume("media/USB"), true},
        {"the volume given with a trailing slash", onDrive, {.path = temp_ / "media/USB/"}, true},
        {"the music folder is the volume's root", temp_ / "media/USB", volume("media/USB"), true},
        {"reached through a link", temp_ / "home/Linked", volume("media/USB"), true},
        {"through a link to the volume's root",
         onDrive,
         {.path = temp_ / "home/Linked/..",
          .resolved = FolderPlaces::resolved(temp_ / "home/Linked/..")},
         true},
        {"mounted inside the music folder", temp_ / "media", volume("media/CARD"), true},
        {"an artist linked onto the volume", temp_ / "home/Music", volume("media/CARD"), true},
        {"not there, on where it would lie", temp_ / "media/USB/Gone", volume("media/USB"), true},
        {"another mount of its file system", onDrive, sameFileSystem, true},
        {"another volume", onDrive, volume("media/CARD"), false},
        {"a name that only begins alike", onDrive, volume("media/USB2"), false},
        {"a link that leads nowhere", temp_ / "home/Music", volume("media/USB2"), false},
        {"no music folder", "", volume("media/USB"), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(holdsLibrary(c.volume, FolderPlaces::of(c.music), std::nullopt, c.music), c.holds)
            << c.what;
    }
}

// The drive comes back at another mount point (its old folder was left
// behind): its identity tells it, for the same music folder only.
TEST_F(MusicDriveTest, TheDriveIsKnownAgainByItsIdentityForItsOwnMusicFolder) {
    const std::string music = (temp_ / "media/USB/Music").string();
    const LastSeen seen{
        .musicFolder = music, .mountPoint = temp_ / "media/USB", .fileSystemId = "4A1B-2C3D"};
    VolumeService::Mounted back = volume("media/USB2");
    back.fileSystemId = "4A1B-2C3D";
    const auto places = FolderPlaces::of(music);
    EXPECT_TRUE(holdsLibrary(back, places, seen, music));
    LastSeen elsewhere = seen;
    elsewhere.musicFolder = "/elsewhere";
    EXPECT_FALSE(holdsLibrary(back, places, elsewhere, music));
    back.fileSystemId = "0000-0001";
    EXPECT_FALSE(holdsLibrary(back, places, seen, music));

    // Seen on the deepest volume the music folder lies on.
    std::vector<VolumeService::Mounted> mounted = {
        {.path = temp_.path(), .fileSystemId = "outer"},
        {.path = temp_ / "media/USB", .fileSystemId = "4A1B-2C3D"},
        {.path = temp_ / "media/CARD", .fileSystemId = "card"}};
    EXPECT_EQ(seenNow(music, mounted, places), seen);
    mounted[1].fileSystemId.reset();
    EXPECT_EQ(seenNow(music, mounted, places).fileSystemId, std::nullopt);
    EXPECT_EQ(seenNow(music, mounted, {}).mountPoint, "");
}

// The music folder is there only where it was last seen: at the same mount
// point, on the same file system where both are known. A drive that is out
// leaves the folder on no listed volume; another drive may be mounted where
// it was.
TEST(MusicDriveRecordTest, TheFolderIsWhereItWasLastSeenOnlyOnTheSameVolume) {
    const std::string music = "/media/u/USB/Music";
    const LastSeen onUsb{
        .musicFolder = music, .mountPoint = "/media/u/USB", .fileSystemId = "4A1B-2C3D"};
    const auto seen = [&](const char* mountPoint, std::optional<std::string> id) {
        return LastSeen{.musicFolder = music, .mountPoint = mountPoint, .fileSystemId = id};
    };
    LastSeen otherFolder = onUsb;
    otherFolder.musicFolder = "/media/u/USB/Other";
    LastSeen onNothing = onUsb;
    onNothing.mountPoint = "";
    onNothing.fileSystemId.reset();
    LastSeen unknownId = onUsb;
    unknownId.fileSystemId.reset();
    const struct {
        const char* what;
        LastSeen now;
        std::optional<LastSeen> last;
        bool there;
    } cases[] = {
        {"the same volume", onUsb, onUsb, true},
        {"the drive out: on no listed volume", seen("", {}), onUsb, false},
        {"on another volume", seen("/media/u/DATA", "77AA-0001"), onUsb, false},
        {"another drive where it was", seen("/media/u/USB", "0000-0001"), onUsb, false},
        {"no identity now", seen("/media/u/USB", {}), onUsb, true},
        {"no identity then", onUsb, unknownId, true},
        {"the mount point in another normal form", seen("/media/u/Cafe\u0301", {}),
         seen("/media/u/Caf\u00E9", {}), true},
        {"never seen", onUsb, std::nullopt, true},
        {"seen on no listed volume", onUsb, onNothing, true},
        {"the record of another folder", seen("", {}), otherFolder, true},
    };
    for (const auto& c : cases) EXPECT_EQ(whereLastSeen(c.now, c.last), c.there) << c.what;
}

}  // namespace
}  // namespace tarvik::MusicDrive
