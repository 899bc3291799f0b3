#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <string>
#include <vector>

#include "Core/Catalog/CatalogCache.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using namespace std::chrono_literals;
using Time = std::chrono::system_clock::time_point;
using testing::TempDir;
using testing::writeFile;

const Time start = Time{} + 1'700'000'000s;
const auto maxAge = std::chrono::days(CatalogCache::maxAgeDays);
const CatalogRecords someRecords = {
    {.wrapperType = "track", .artistName = "青い鳥楽団", .trackNumber = 3}, {}};

// Runs SQL through the sqlite3 program, an independent reader and writer.
std::string sqlite(const std::filesystem::path& db, const std::string& sql) {
    const auto result = testing::runCommand({"sqlite3", db.string(), sql});
    EXPECT_EQ(result.exitCode, 0) << sql;
    return result.output;
}

// Another connection that holds a lock until it is destroyed. A deferred
// BEGIN locks nothing until the first statement, hence the table.
class Locker {
public:
    Locker(const std::filesystem::path& db, const std::string& begin) {
        EXPECT_EQ(sqlite3_open(db.c_str(), &db_), SQLITE_OK);
        const std::string sql = begin + "; CREATE TABLE IF NOT EXISTS held (x)";
        EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    }
    ~Locker() { sqlite3_close_v2(db_); }  // rolls the transaction back

private:
    sqlite3* db_ = nullptr;
};

TEST(CatalogCache, FreshFileHoldsOnlyTheSearchTableAndASecondPutReplacesTheRow) {
    TempDir dir;
    const auto db = dir / "a/b/catalog.sqlite";
    CatalogCache cache(db, [] { return start; });
    EXPECT_EQ(sqlite(db, ".schema"),
              "CREATE TABLE search (url TEXT PRIMARY KEY, json TEXT NOT NULL, fetched_at REAL "
              "NOT NULL);\n");
    EXPECT_EQ(sqlite(db, "PRAGMA journal_mode"), "wal\n");
    cache.put("u", someRecords, start - maxAge - 10s);  // already expired
    cache.put("u", {someRecords[0]}, start - 1s);
    cache.put("empty", {}, start);
    EXPECT_EQ(cache.count(), 2);
    EXPECT_EQ(cache.get("u"), CatalogRecords{someRecords[0]});
    EXPECT_EQ(cache.get("empty"), CatalogRecords{});  // a hit, unlike a missing address
    EXPECT_EQ(cache.get("other"), std::nullopt);
    EXPECT_EQ(sqlite(db, "SELECT json, fetched_at FROM search WHERE url='u'"),
              R"([{"artistName":"青い鳥楽団","trackNumber":3,"wrapperType":"track"}]|)"
              "1699999999.0\n");
}

TEST(CatalogCache, UnusableDatabaseFileIsAConversionErrorNamingThePath) {
    TempDir dir;
    for (const std::string name : {"folder", "garbage", "locked"}) {
        const auto db = dir / name / "catalog.sqlite";
        std::filesystem::create_directories(name == "folder" ? db : db.parent_path());
        if (name == "garbage") writeFile(db, std::string(4096, 'x'));
        std::unique_ptr<Locker> locker;
        if (name == "locked") {
            sqlite(db, "CREATE TABLE t (x)");  // a database in the rollback journal mode
            locker = std::make_unique<Locker>(db, "BEGIN EXCLUSIVE");
        }
        try {
            CatalogCache cache(db);
            ADD_FAILURE() << name << " opened";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.description(), "キャッシュを開けません: " + db.string()) << name;
        }
    }
}

TEST(CatalogCache, AgeLimitAndDamagedRows) {
    TempDir dir;
    const auto db = dir / "catalog.sqlite";
    Time now = start;
    CatalogCache cache(db, [&] { return now; });
    cache.put("u", someRecords, start);
    // Stored "in the future" by a clock that was ahead is still a hit.
    for (const auto& [age, hit] : std::vector<std::pair<std::chrono::seconds, bool>>{
             {0s, true}, {-3600s, true}, {maxAge, true}, {maxAge + 1s, false}}) {
        now = start + age;
        EXPECT_EQ(cache.get("u").has_value(), hit) << age.count();
    }
    EXPECT_EQ(cache.count(), 1);  // an expired row stays

    now = start;
    sqlite(db, R"(INSERT INTO search VALUES ('not json', 'oops', 1700000000),
        ('object', '{}', 1700000000), ('wrong type', '[{"trackNumber":"5"}]', 1700000000),
        ('text time', '[]', 'yesterday'), ('blob', X'FF00', 1700000000),
        ('beyond a double', '[{"trackNumber":1e400}]', 1700000000), ('fine', '[{}]', 1700000000))");
    for (const char* url :
         {"not json", "object", "wrong type", "text time", "blob", "beyond a double"}) {
        EXPECT_EQ(cache.get(url), std::nullopt) << url;
    }
    EXPECT_EQ(cache.get("fine"), CatalogRecords{CatalogRecord{}});
}

TEST(CatalogCache, ImportStoresEveryEntryWithTheFileTimeAndRenamesWhenAsked) {
    TempDir dir;
    const auto legacy = dir / "catalog_cache.json";
    writeFile(legacy, R"({"https://x/search?term=a": [{"trackName": "A"}],
                          "https://x/search?term=b": [],
                          "https://x/lookup?id=1": [{}, {"wrapperType": "track"}]})");
    const Time modified = Time{} + 1'600'000'000s;
    std::filesystem::last_write_time(legacy, std::chrono::file_clock::from_sys(modified));
    Time now = modified + maxAge;
    CatalogCache cache(dir / "catalog.sqlite", [&] { return now; });
    cache.put("https://x/search?term=b", someRecords, start);  // replaced by the import

    EXPECT_EQ(cache.importLegacy(legacy, false), 3u);
    EXPECT_TRUE(std::filesystem::exists(legacy));
    EXPECT_EQ(sqlite(dir / "catalog.sqlite", "SELECT DISTINCT fetched_at FROM search"),
              "1600000000.0\n");
    EXPECT_EQ(cache.get("https://x/search?term=b"), CatalogRecords{});
    EXPECT_EQ(cache.get("https://x/lookup?id=1")->size(), 2u);

    writeFile(dir / "earlier/catalog_cache.json.imported", "earlier");
    writeFile(dir / "earlier/catalog_cache.json", "{}");
    EXPECT_EQ(cache.importLegacy(dir / "earlier/catalog_cache.json", true), 0u);
    EXPECT_TRUE(std::filesystem::exists(dir / "earlier/catalog_cache.json")) << "never replaced";

    EXPECT_EQ(cache.importLegacy(legacy, true), 3u);
    EXPECT_FALSE(std::filesystem::exists(legacy));
    EXPECT_TRUE(std::filesystem::exists(dir / "catalog_cache.json.imported"));
    EXPECT_EQ(cache.count(), 3);
    now += 1s;
    EXPECT_EQ(cache.get("https://x/search?term=a"), std::nullopt);  // the file's time counts
}

// The file may be missing, no JSON, hold a bad record or a number beyond a
// double, or the database may be locked by another writer.
TEST(CatalogCache, RefusedImportKeepsTheFileStoresNothingAndLeavesNoTransaction) {
    const std::vector<std::pair<std::optional<std::string>, bool>> cases = {
        {std::nullopt, false},
        {"catalog", false},
        {R"({"a": [{}], "b": [{"trackNumber": "5"}]})", false},
        {R"({"a": [{"trackNumber": 7E777}]})", false},
        {R"({"a": [], "b": []})", true}};
    for (const auto& [content, locked] : cases) {
        TempDir dir;
        const auto db = dir / "catalog.sqlite";
        const auto legacy = dir / "catalog_cache.json";
        if (content) writeFile(legacy, *content);
        CatalogCache cache(db);
        std::string error;
        {
            const auto writer = locked ? std::make_unique<Locker>(db, "BEGIN IMMEDIATE") : nullptr;
            try {
                cache.importLegacy(legacy, true);
                ADD_FAILURE() << "imported " << content.value_or("(missing)");
            } catch (const ConversionError& refused) {
                error = refused.description();
            } catch (const DecodingError&) {
            }
        }
        EXPECT_EQ(std::filesystem::exists(legacy), content.has_value());
        if (locked) {
            EXPECT_TRUE(error.starts_with("書き込めません: " + db.string() + "（")) << error;
        }
        // Had the import left its transaction open, this row would never reach the file.
        cache.put("c", {}, std::chrono::system_clock::now());
        EXPECT_EQ(CatalogCache(db).count(), 1) << content.value_or("(missing)");
    }
}

}  // namespace
}  // namespace tarvik
