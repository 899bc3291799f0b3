#include <gtest/gtest.h>

#include "Core/SDCard/ExportedAlbums.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik::SDCardTools {

// Readable failures: gtest finds this beside the type.
void PrintTo(const Album& album, std::ostream* out) {
    *out << album.relativePath << " @ " << album.sourceDir << " [" << album.artist << " / "
         << album.name << "] " << album.files.size() << " files, " << album.bytes << " bytes";
}

namespace {

// Albums are the folders holding card audio, named by artist folder and album
// folder in NFC while the source keeps its bytes; loose files of an export
// folder are an album named after its parent; a later export folder wins.
TEST(ExportedAlbums, AlbumsBelowExportFolders) {
    testing::TempDir temp;
    const auto root = temp / "Export";
    const std::string ga = "\u30AB\u3099";
    testing::writeFiles(root, {{"Ar/Al/02.mp3", "22"},
                               {"Ar/Al/01.mp3", "1"},
                               {"Ar/Al/c.jpg", "j"},
                               {"Ar/Al/.01.mp3", "hidden"},
                               {"Ar/Lossless/01.flac", "no card audio"},
                               {"Ar/" + ga + "/01.M4A", "333"},
                               {"Ar/Old/1.mp3", "1"},
                               {"loose.mp3", "4444"}});
    testing::writeFile(temp / "Later" / "Ar" / "Old" / "3.mp3", "333");
    const std::vector<Album> expected = {
        {"Ar/Al", root / "Ar" / "Al", "Ar", "Al", {"01.mp3", "02.mp3"}, 3},
        {"Ar/Old", temp / "Later" / "Ar" / "Old", "Ar", "Old", {"3.mp3"}, 3},
        {"Ar/\u30AC", root / "Ar" / ga, "Ar", "\u30AC", {"01.M4A"}, 3},
        {temp.path().filename().native() + "/Export",
         root,
         temp.path().filename(),
         "Export",
         {"loose.mp3"},
         4}};
    EXPECT_EQ(exportedAlbums({root, temp / "missing", temp / "Later"}), expected);
}

}  // namespace
}  // namespace tarvik::SDCardTools
