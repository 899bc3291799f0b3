#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "Core/Catalog/CatalogCache.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Testing/Shell.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Time = std::chrono::system_clock::time_point;
using testing::TempDir;
using testing::writeFile;

const Time start = Time{} + 1'700'000'000s;
const auto maxAge = std::chrono::days(CatalogCache::maxAgeDays);

// Runs SQL through the sqlite3 program, an independent reader and writer.
std::string sqlite(const fs::path& db, const std::string& sql) {
    const auto result = testing::runCommand({"sqlite3", db.string(), sql});
    EXPECT_EQ(result.exitCode, 0) << sql;
    return result.output;
}

// Another connection that holds a lock until it is destroyed (which rolls the
// transaction back). A deferred BEGIN locks nothing until the first
// statement, hence the table.
struct Locker {
    Locker(const fs::path& db, const std::string& begin) {
        sqlite3_open(db.c_str(), &handle);
        const std::string sql = begin + "; CREATE TABLE IF NOT EXISTS held (x)";
        EXPECT_EQ(sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    }
    ~Locker() { sqlite3_close_v2(handle); }
    sqlite3* handle = nullptr;
};

// A row that is not a list of records, or has no usable time, is a miss, as
// is a row past the age limit; stored "in the future" by a clock that was
// ahead is still a hit.
TEST(CatalogCache, GivesBackStoredListsWithinTheAgeLimitAndNoDamagedRow) {
    TempDir dir;
    const auto db = dir / "a/b/catalog.sqlite";
    Time now = start;
    CatalogCache cache(db, [&] { return now; });
    const CatalogRecord record{
        .wrapperType = "track", .artistName = "青い鳥楽団", .trackNumber = 3};
    cache.put("u", {record, {}}, start - 10s);
    cache.put("u", {record}, start);
    cache.put("empty", {}, start);
    EXPECT_EQ(cache.get("empty"), CatalogRecords{});  // a hit, unlike a missing address
    EXPECT_EQ(cache.get("other"), std::nullopt);
    EXPECT_EQ(sqlite(db, "SELECT json, fetched_at FROM search WHERE url='u'"),
              R"([{"artistName":"青い鳥楽団","trackNumber":3,"wrapperType":"track"}]|)"
              "1700000000.0\n");
    for (const auto& [age, hit] : std::vector<std::pair<std::chrono::seconds, bool>>{
             {-3600s, true}, {maxAge, true}, {maxAge + 1s, false}}) {
        now = start + age;
        EXPECT_EQ(cache.get("u"), hit ? std::optional(CatalogRecords{record}) : std::nullopt);
    }
    EXPECT_EQ(cache.count(), 2);  // an expired row stays

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

TEST(CatalogCache, UnusableDatabaseFileIsAConversionErrorNamingThePath) {
    TempDir dir;
    for (const std::string name : {"folder", "garbage", "locked"}) {
        const auto db = dir / name / "catalog.sqlite";
        fs::create_directories(name == "folder" ? db : db.parent_path());
        if (name == "garbage") writeFile(db, std::string(4096, 'x'));
        if (name == "locked") sqlite(db, "CREATE TABLE t (x)");  // in the rollback journal mode
        const auto locker =
            name == "locked" ? std::make_unique<Locker>(db, "BEGIN EXCLUSIVE") : nullptr;
        try {
            CatalogCache cache(db);
            ADD_FAILURE() << name << " opened";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.description(), "キャッシュを開けません: " + db.string()) << name;
        }
    }
}

TEST(CatalogCache, ImportStoresEveryEntryWithTheFileTimeAndRenamesWhenAsked) {
    TempDir dir;
    const auto legacy = dir / "catalog_cache.json";
    writeFile(legacy, R"({"a": [{"trackName": "A"}], "b": [], "c": [{}, {"wrapperType": "t"}]})");
    fs::last_write_time(legacy, std::chrono::file_clock::from_sys(start - maxAge));
    Time now = start;
    CatalogCache cache(dir / "catalog.sqlite", [&] { return now; });
    cache.put("b", {{}}, start);  // replaced by the import
    writeFile(dir / "catalog_cache.json.imported", "earlier");

    EXPECT_EQ(cache.importLegacy(legacy, true), 3u);
    EXPECT_TRUE(fs::exists(legacy)) << "an earlier import's file is never replaced";
    EXPECT_EQ(sqlite(dir / "catalog.sqlite", "SELECT DISTINCT fetched_at FROM search"),
              "1684448000.0\n");
    EXPECT_EQ(cache.get("b"), CatalogRecords{});
    EXPECT_EQ(cache.get("c")->size(), 2u);
    now += 1s;
    EXPECT_EQ(cache.get("a"), std::nullopt);  // the file's time counts

    fs::remove(dir / "catalog_cache.json.imported");
    EXPECT_EQ(cache.importLegacy(legacy, true), 3u);
    EXPECT_FALSE(fs::exists(legacy));
    EXPECT_TRUE(fs::exists(dir / "catalog_cache.json.imported"));
    EXPECT_EQ(cache.count(), 3);
}

// The file may be missing, no JSON, no object, hold a bad record or a number
// beyond a double, or the database may be locked by another writer.
TEST(CatalogCache, RefusedImportKeepsTheFileStoresNothingAndLeavesNoTransaction) {
    const std::vector<std::pair<std::optional<std::string>, bool>> cases = {
        {std::nullopt, false},
        {"catalog", false},
        {R"([{"trackName": "B"}])", false},
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
                error = "undecodable";
            }
        }
        EXPECT_EQ(fs::exists(legacy), content.has_value());
        EXPECT_TRUE(error.starts_with(!content ? "読み込めません: " + legacy.string() + "（"
                                      : locked ? "書き込めません: " + db.string() + "（"
                                               : "undecodable"))
            << error;
        // Had the import left its transaction open, this row would never reach the file.
        cache.put("c", {}, std::chrono::system_clock::now());
        EXPECT_EQ(CatalogCache(db).count(), 1) << content.value_or("(missing)");
    }
}

}  // namespace
}  // namespace tarvik
