#include <gtest/gtest.h>

#include <string>

#include "Core/Catalog/CachedCatalog.hpp"
#include "Core/Catalog/CatalogTesting.hpp"
#include "Core/Catalog/ITunesURL.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using testing::writeFile;

TEST(CachedCatalog, AnswersOnlyByTheExactAddressAndKeepsOnlyTracksOfALookup) {
    testing::ScopedBase local("http://127.0.0.1:8080/");
    const CatalogRecords tracks{{.wrapperType = "track", .trackNumber = 1},
                                {.wrapperType = "track", .trackNumber = 2}};
    const CatalogRecords album{{.collectionName = "空"}}, song{{.trackName = "Song"}};
    const std::string search = "http://127.0.0.1:8080/search?term=";
    const CachedCatalog catalog(CachedCatalog::Responses{
        {ITunesURL::lookup(42), {{.wrapperType = "collection"}, tracks[0], tracks[1]}},
        {ITunesURL::albumSearch("青い鳥楽団", "空"), album},
        {ITunesURL::songSearch("A", "Song (Live)"), song},
        // Near misses of real questions: another base, a lower-case escape,
        // another item order.
        {"https://127.0.0.1:8080/lookup?id=7&entity=song&country=JP&lang=ja_jp", song},
        {search + "B+%e7%a9%ba&entity=song&limit=10&country=JP&lang=ja_jp", song},
        {search + "C+D&limit=10&entity=song&country=JP&lang=ja_jp", song},
    });
    CachedCatalog copy = catalog;
    EXPECT_EQ(copy.lookupTracks(42, {}), tracks);
    EXPECT_EQ(copy.searchAlbums("青い鳥楽団", "空 ", {}), album);  // trimmed into the same term
    EXPECT_EQ(copy.searchSongs("A", "Song", {}), song);
    EXPECT_TRUE(copy.searchAlbums("A", "Song", {}).empty());
    EXPECT_TRUE(copy.searchSongs("A", "song", {}).empty());
    EXPECT_TRUE(copy.lookupTracks(7, {}).empty());
    EXPECT_TRUE(copy.searchSongs("B", "空", {}).empty());
    EXPECT_TRUE(copy.searchSongs("C", "D", {}).empty());
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
