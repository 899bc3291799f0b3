#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "Core/SDCard/CardCleaning.hpp"
#include "Core/SDCard/CardVolumes.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::SDCardTools {
namespace {

using testing::filesBelow;
using testing::TempDir;
using testing::writeFile;

const std::string decomposedGa = "\u30AB\u3099";
const std::string composedGa = "\u30AC";
const std::string pad4 = "\u3000\u3000\u3000\u3000";

TEST(CardCleaning, DeletesCompanionFilesButNotInsideHiddenFolders) {
    TempDir temp;
    writeFile(temp / "Artist" / "Album" / "01.mp3", "music");
    writeFile(temp / "Artist" / "Album" / "._01.mp3", "fork");
    writeFile(temp / "Artist" / ".DS_Store", "store");
    writeFile(temp / ".Spotlight-V100" / "._x", "index");
    writeFile(temp / ".Spotlight-V100" / "x\u301C.mp3", "kept");
    const CleanResult result = clean(temp.path());
    EXPECT_EQ(result, (CleanResult{2, 0, {}}));
    EXPECT_TRUE(result.changed());
    EXPECT_EQ(filesBelow(temp.path()),
              (std::map<std::string, std::string>{{"Artist/Album/01.mp3", "music"},
                                                  {".Spotlight-V100/._x", "index"},
                                                  {".Spotlight-V100/x\u301C.mp3", "kept"}}));
}

TEST(CardCleaning, RenamesMusicAndTheFoldersThatHoldIt) {
    TempDir temp;
    writeFile(temp / "Artist\u301C" / "Album" / "01.mp3", "1");
    writeFile(temp / "Artist\u301C" / "Album" / "02 Song\u301C.MP3", "2");
    writeFile(temp / "Artist\u301C" / "Album" / "03 Song\u301C.FLAC", "3");  // no card audio
    writeFile(temp / "Covers\u301C" / "front.jpg", "4");     // no music: keeps its name
    writeFile(temp / "Album\u301C.mp3" / "notes.txt", "5");  // a folder, whatever its name says
    const CleanResult result = clean(temp.path());
    EXPECT_EQ(result, (CleanResult{0, 2, {}}));
    EXPECT_EQ(filesBelow(temp.path()), (std::map<std::string, std::string>{
                                           {"Artist~/Album/01.mp3", "1"},
                                           {"Artist~/Album/02 Song~.MP3", "2"},
                                           {"Artist~/Album/03 Song\u301C.FLAC", "3"},
                                           {"Covers\u301C/front.jpg", "4"},
                                           {"Album\u301C.mp3/notes.txt", "5"},
                                       }));
}

// Linux keeps names as bytes: a folder stored decomposed, or a name that is
// not UTF-8, must still be reachable while what lies below it is renamed.
TEST(CardCleaning, NamesStoredAsOddBytesAreRenamedInOneRun) {
    TempDir temp;
    writeFile(temp / decomposedGa / "x\u301C.mp3", "1");
    writeFile(temp / "Album" / "bad\xff.mp3", "2");
    EXPECT_EQ(clean(temp.path()), (CleanResult{0, 3, {}}));
    EXPECT_EQ(filesBelow(temp.path()),
              (std::map<std::string, std::string>{{composedGa + pad4 + "/x~.mp3", "1"},
                                                  {"Album/bad_.mp3", "2"}}));
    EXPECT_EQ(clean(temp.path()), CleanResult{});
}

TEST(CardCleaning, AlbumOutsideCodePageAndClashingNamesLoseNothing) {
    TempDir temp;
    const auto album = temp / "Caf\u00E9 \u2764" / "Live\u301C";
    writeFile(album / "01 \u00C9t\u00E9.mp3", "1");
    writeFile(album / "01 _t_.MP3", "2");  // what the first becomes, in other case
    writeFile(album / "02 Nuit.m4a", "3");
    writeFile(temp / "Caf_ _" / "keep.txt", "4");  // the folder's safe name is taken
    const CleanResult result = clean(temp.path());
    EXPECT_EQ(result.removed, 0);
    EXPECT_EQ(result.renamed, 1);  // "Live〜"
    EXPECT_EQ(result.failed,
              (std::vector<std::string>{"01 \u00C9t\u00E9.mp3", "Caf\u00E9 \u2764"}));
    EXPECT_EQ(filesBelow(temp.path()), (std::map<std::string, std::string>{
                                           {"Caf\u00E9 \u2764/Live~/01 \u00C9t\u00E9.mp3", "1"},
                                           {"Caf\u00E9 \u2764/Live~/01 _t_.MP3", "2"},
                                           {"Caf\u00E9 \u2764/Live~/02 Nuit.m4a", "3"},
                                           {"Caf_ _/keep.txt", "4"},
                                       }));
}

TEST(CardCleaning, RootWithTrailingSlashCleansTheSame) {
    TempDir temp;
    writeFile(temp / "Artist\u301C" / "01.mp3", "1");
    writeFile(temp / "Artist\u301C" / "._01.mp3", "x");
    EXPECT_EQ(clean(temp.path().native() + "/"), (CleanResult{1, 1, {}}));
    EXPECT_EQ(filesBelow(temp.path()),
              (std::map<std::string, std::string>{{"Artist~/01.mp3", "1"}}));
}

}  // namespace
}  // namespace tarvik::SDCardTools
