#include <gtest/gtest.h>

#include <string>

#include "Core/Catalog/CachedCatalog.hpp"
#include "Core/Catalog/ITunesURL.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using testing::writeFile;

TEST(CachedCatalog, AnswersByTheRequestAddressAndKeepsOnlyTracksOfALookup) {
    const CatalogRecords tracks{{.wrapperType = "track", .trackNumber = 1},
                                {.wrapperType = "track", .trackNumber = 2}};
    const CatalogRecords album{{.collectionName = "空"}}, song{{.trackName = "Song"}};
    CachedCatalog catalog(CachedCatalog::Responses{
        {ITunesURL::lookup(42), {{.wrapperType = "collection"}, tracks[0], tracks[1]}},
        {ITunesURL::albumSearch("青い鳥楽団", "空"), album},
        {ITunesURL::songSearch("A", "Song (Live)"), song}});
    EXPECT_EQ(catalog.lookupTracks(42, {}), tracks);
    EXPECT_EQ(catalog.searchAlbums("青い鳥楽団", "空 ", {}), album);  // trimmed into the same term
    EXPECT_EQ(catalog.searchSongs("A", "Song", {}), song);
    EXPECT_TRUE(catalog.searchAlbums("A", "Song", {}).empty());
    EXPECT_TRUE(catalog.searchSongs("A", "song", {}).empty());
    EXPECT_TRUE(catalog.lookupTracks(7, {}).empty());
}

TEST(CachedCatalog, ReadsOnlyAFileHoldingAnObjectOfLists) {
    testing::TempDir dir;
    writeFile(dir / "good.json",
              "{\"" + ITunesURL::songSearch("A", "B") + R"(": [{"trackName": "B"}], "x": []})");
    EXPECT_EQ(CachedCatalog(dir / "good.json").searchSongs("A", "B", {}),
              CatalogRecords{{.trackName = "B"}});
    writeFile(dir / "array.json", R"([{"trackName": "B"}])");
    writeFile(dir / "bad.json", R"({"u": [{"discNumber": "1"}]})");
    EXPECT_THROW(CachedCatalog(dir / "array.json"), DecodingError);
    EXPECT_THROW(CachedCatalog(dir / "bad.json"), DecodingError);
    try {
        CachedCatalog(dir / "missing.json");
        ADD_FAILURE() << "a missing file was read";
    } catch (const ConversionError& error) {
        EXPECT_TRUE(error.description().starts_with(
            "読み込めません: " + (dir / "missing.json").string() + "（"));
    }
}

}  // namespace
}  // namespace tarvik
