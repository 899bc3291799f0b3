#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <unordered_set>
#include <vector>

#include "Core/SDCard/CardNames.hpp"
#include "Core/SDCard/ExportedAlbums.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::SDCardTools {

// Readable failures: gtest finds this beside the type.
void PrintTo(const Album& album, std::ostream* out) {
    *out << album.relativePath << " @ " << album.sourceDir << " [" << album.artist << " / "
         << album.name << "] " << album.files.size() << " files, " << album.bytes << " bytes";
}

namespace {

using testing::TempDir;
using testing::writeFile;

std::vector<std::string> relativePaths(const std::vector<Album>& albums) {
    std::vector<std::string> paths;
    for (const Album& album : albums) paths.push_back(album.relativePath);
    return paths;
}

TEST(ExportedAlbums, AlbumsBelowAnExportFolder) {
    TempDir temp;
    const auto root = temp / "Export";
    writeFile(root / "Artist" / "Album" / "02.mp3", "22");
    writeFile(root / "Artist" / "Album" / "01.mp3", "1");
    writeFile(root / "Artist" / "Album" / "cover.jpg", "jpeg");
    writeFile(root / "Artist" / "Album" / ".01.mp3", "hidden");
    writeFile(root / "Artist" / "Box" / "CD1" / "01.M4A", "333");
    writeFile(root / "Artist" / "Lossless" / "01.flac", "no card audio");
    writeFile(root / "Single" / "01.WMA", "4444");

    const std::vector<Album> expected = {
        {"Artist/Album", root / "Artist" / "Album", "Artist", "Album", {"01.mp3", "02.mp3"}, 3},
        {"Artist/Box/CD1", root / "Artist" / "Box" / "CD1", "Artist", "CD1", {"01.M4A"}, 3},
        {"Export/Single", root / "Single", "Export", "Single", {"01.WMA"}, 4},
    };
    EXPECT_EQ(exportedAlbums({root}), expected);

    // Loose files of the export folder are its own album, named after its parent.
    writeFile(root / "loose.mp3", "loose");
    const std::vector<Album> withLoose = exportedAlbums({root});
    ASSERT_EQ(withLoose.size(), 4U);
    EXPECT_EQ(withLoose.back(), (Album{temp.path().filename().native() + "/Export",
                                       root,
                                       temp.path().filename().native(),
                                       "Export",
                                       {"loose.mp3"},
                                       5}));
    EXPECT_EQ(albumFolders(root).size(), 3U);
}

TEST(ExportedAlbums, FolderThatItselfHoldsMusicIsNamedAfterItsParent) {
    TempDir temp;
    writeFile(temp / "Artist" / "Album" / "01.mp3", "1");
    const std::vector<Album> expected = {
        {"Artist/Album", temp / "Artist" / "Album", "Artist", "Album", {"01.mp3"}, 1}};
    EXPECT_EQ(exportedAlbums({temp / "Artist" / "Album"}), expected);
    EXPECT_EQ(exportedAlbums({temp.path().native() + "/Artist/Album/"}), expected);
}

TEST(ExportedAlbums, LaterFindsWin) {
    TempDir temp;
    writeFile(temp / "one" / "Artist" / "Album" / "01.mp3", "1");
    writeFile(temp / "two" / "Artist" / "Album" / "02.mp3", "22");
    const std::vector<Album> albums =
        exportedAlbums({temp / "one", temp / "missing", temp / "two"});
    ASSERT_EQ(albums.size(), 1U);
    EXPECT_EQ(albums[0].sourceDir, temp / "two" / "Artist" / "Album");
    EXPECT_EQ(albums[0].files, std::vector<std::string>{"02.mp3"});

    // Within one folder an album below it wins over the folder's own files:
    // both are "A/A" here.
    writeFile(temp / "A" / "A" / "own.mp3", "1");
    writeFile(temp / "A" / "A" / "A" / "below.mp3", "1");
    const std::vector<Album> nested = exportedAlbums({temp / "A" / "A"});
    ASSERT_EQ(nested.size(), 1U);
    EXPECT_EQ(nested[0].relativePath, "A/A");
    EXPECT_EQ(nested[0].files, std::vector<std::string>{"below.mp3"});
}

TEST(ExportedAlbums, AlbumsAndFilesInNameOrder) {
    TempDir temp;
    for (const char* album : {"b", "A", "a"}) {
        writeFile(temp / "Artist" / album / "1.mp3", "x");
    }
    for (const char* file : {"b.mp3", "B.mp3", "a.mp3", "\u00E1.mp3"}) {
        writeFile(temp / "Other" / "Album" / file, "x");
    }
    const std::vector<Album> albums = exportedAlbums({temp.path()});
    EXPECT_EQ(relativePaths(albums),
              (std::vector<std::string>{"Artist/a", "Artist/A", "Artist/b", "Other/Album"}));
    EXPECT_EQ(albums.back().files,
              (std::vector<std::string>{"a.mp3", "\u00E1.mp3", "b.mp3", "B.mp3"}));
}

TEST(ExportedAlbums, RelativePathIsNFCButTheSourceKeepsItsBytes) {
    TempDir temp;
    const std::string decomposed = "\u30AB\u3099";
    writeFile(temp / "Artist" / decomposed / "1.mp3", "x");
    const std::vector<Album> albums = exportedAlbums({temp.path()});
    ASSERT_EQ(albums.size(), 1U);
    EXPECT_EQ(albums[0].relativePath, "Artist/\u30AC");
    EXPECT_EQ(albums[0].name, "\u30AC");
    EXPECT_EQ(albums[0].sourceDir, temp / "Artist" / decomposed);
    const std::unordered_set<Album> set(albums.begin(), albums.end());
    EXPECT_TRUE(set.contains(albums[0]));
}

TEST(ExportedAlbums, OnCardWhenEveryCardNameIsThere) {
    TempDir temp;
    const Album album{"\u3042/Live", "/unused", "\u3042", "Live", {"01\u301C.mp3", "02.mp3"}, 0};
    const auto cardFolder = temp / "card" / cardRelativePath("\u3042/Live");
    EXPECT_FALSE(isOnCard(album, temp / "card"));  // no card folder at all

    writeFile(cardFolder / "01~.mp3", "any size");
    EXPECT_FALSE(isOnCard(album, temp / "card"));
    writeFile(cardFolder / "02.mp3", "");
    EXPECT_TRUE(isOnCard(album, temp / "card"));

    const Album empty{"Nobody/Nothing", "/unused", "Nobody", "Nothing", {}, 0};
    EXPECT_TRUE(isOnCard(empty, temp / "card"));
}

// "Café" and "Cafè" are one name on a Shift-JIS card ("Caf_"): a card file
// under it can't tell whose it is, so neither album counts as on the card.
TEST(ExportedAlbums, NeverOnCardWhenItsCardNamesAreShared) {
    TempDir temp;
    const Album acute{"A/Caf\u00E9", "/unused", "A", "Caf\u00E9", {"01 Intro.mp3"}, 0};
    const Album grave{"A/Caf\u00E8", "/unused", "A", "Caf\u00E8", {"01 Intro.mp3"}, 0};
    const Album other{"A/Other", "/unused", "A", "Other", {"01 Intro.mp3"}, 0};
    writeFile(temp / "A" / "Caf_" / "01 Intro.mp3", "one of them");
    writeFile(temp / "A" / "Other" / "01 Intro.mp3", "its own");

    const std::set<std::string> shared = sharedCardPaths({acute, grave, other});
    EXPECT_EQ(shared, (std::set<std::string>{"a/caf_/01 intro.mp3"}));
    EXPECT_FALSE(isOnCard(acute, temp.path(), shared));
    EXPECT_FALSE(isOnCard(grave, temp.path(), shared));
    EXPECT_TRUE(isOnCard(other, temp.path(), shared));

    // Two files of one album that are one file on the card.
    const Album twins{"A/Other", "/unused", "A", "Other", {"01 Intro.mp3", "01 INTRO.mp3"}, 0};
    EXPECT_FALSE(isOnCard(twins, temp.path()));
}

TEST(ExportedAlbums, AllFilesPresentComparesCardNamesInNFC) {
    const std::set<std::string> names = {"\u30AC.mp3", "a~.mp3"};
    EXPECT_TRUE(allFilesPresent({}, {}));
    EXPECT_FALSE(allFilesPresent({"a\u301C.mp3"}, {}));
    EXPECT_TRUE(allFilesPresent({"\u30AB\u3099.mp3", "a\u301C.mp3"}, names));
    EXPECT_FALSE(allFilesPresent({"a\u301C.mp3", "b.mp3"}, names));
}

}  // namespace
}  // namespace tarvik::SDCardTools
