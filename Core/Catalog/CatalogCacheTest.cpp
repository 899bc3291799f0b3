#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <functional>
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
using testing::runCommand;
using testing::TempDir;
using testing::writeFile;

const Time start = Time{} + 1'700'000'000s;
const auto maxAge = std::chrono::days(CatalogCache::maxAgeDays);

// A clock the test moves by hand.
struct FakeClock {
    Time now = start;
    CatalogCache::Clock function() {
        return [this] { return now; };
    }
};

CatalogRecords someRecords() {
    return {{.wrapperType = "track", .artistName = "青い鳥楽団", .trackNumber = 3}, {}};
}

// Runs SQL through the sqlite3 program, an independent reader and writer.
std::string sqlite(const std::filesystem::path& db, const std::string& sql) {
    const auto result = runCommand({"sqlite3", db.string(), sql});
    EXPECT_EQ(result.exitCode, 0) << sql;
    return result.output;
}

// Another connection that holds a lock until it is destroyed.
class Locker {
public:
    Locker(const std::filesystem::path& db, const char* begin) {
        EXPECT_EQ(sqlite3_open(db.c_str(), &db_), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db_, begin, nullptr, nullptr, nullptr), SQLITE_OK);
        // A deferred BEGIN locks nothing until the first statement.
        EXPECT_EQ(
            sqlite3_exec(db_, "CREATE TABLE IF NOT EXISTS held (x)", nullptr, nullptr, nullptr),
            SQLITE_OK);
    }
    ~Locker() {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        sqlite3_close(db_);
    }

private:
    sqlite3* db_ = nullptr;
};

TEST(CatalogCache, FreshLocationMakesFoldersAndExactlyTheSearchTable) {
    TempDir dir;
    const auto db = dir / "a/b/catalog.sqlite";
    CatalogCache cache(db);
    EXPECT_EQ(cache.count(), 0);
    EXPECT_EQ(sqlite(db, ".schema"),
              "CREATE TABLE search (url TEXT PRIMARY KEY, json TEXT NOT NULL, fetched_at REAL "
              "NOT NULL);\n");
    EXPECT_EQ(sqlite(db, "PRAGMA journal_mode"), "wal\n");
}

TEST(CatalogCache, UnusableDatabaseFileIsAConversionErrorNamingThePath) {
    TempDir dir;
    struct Case {
        std::string name;
        std::function<void(const std::filesystem::path&)> prepare;
    };
    std::unique_ptr<Locker> locker;
    const std::vector<Case> cases = {
        {"folder", [](const auto& db) { std::filesystem::create_directories(db); }},
        {"garbage", [](const auto& db) { writeFile(db, std::string(4096, 'x')); }},
        {"locked",
         [&](const auto& db) {
             sqlite(db, "CREATE TABLE t (x)");  // a database in the rollback journal mode
             locker = std::make_unique<Locker>(db, "BEGIN EXCLUSIVE");
         }},
    };
    for (const Case& c : cases) {
        const auto db = dir / (c.name + "/catalog.sqlite");
        std::filesystem::create_directories(db.parent_path());
        c.prepare(db);
        try {
            CatalogCache cache(db);
            ADD_FAILURE() << c.name << " opened";
        } catch (const ConversionError& error) {
            EXPECT_EQ(error.description(), "キャッシュを開けません: " + db.string()) << c.name;
        }
        locker.reset();
    }
}

TEST(CatalogCache, PutTwiceKeepsOneRowWithTheSecondAnswer) {
    TempDir dir;
    FakeClock clock;
    CatalogCache cache(dir / "catalog.sqlite", clock.function());
    cache.put("u", someRecords(), start - maxAge - 10s);  // already expired
    cache.put("u", {someRecords()[0]}, start - 1s);
    cache.put("empty", {}, start);
    EXPECT_EQ(cache.count(), 2);
    EXPECT_EQ(cache.get("u"), CatalogRecords{someRecords()[0]});
    EXPECT_EQ(cache.get("empty"), CatalogRecords{});  // a hit, unlike a missing address
    EXPECT_EQ(cache.get("other"), std::nullopt);
    EXPECT_EQ(sqlite(dir / "catalog.sqlite", "SELECT json, fetched_at FROM search WHERE url='u'"),
              R"([{"artistName":"青い鳥楽団","trackNumber":3,"wrapperType":"track"}]|)"
              "1699999999.0\n");
}

TEST(CatalogCache, AgeLimit) {
    struct Case {
        std::chrono::seconds age;
        bool hit;
    };
    const std::vector<Case> cases = {
        {0s, true},          {-3600s, true},  // stored "in the future" by a clock that was ahead
        {maxAge - 1s, true}, {maxAge, true}, {maxAge + 1s, false},
    };
    TempDir dir;
    FakeClock clock;
    CatalogCache cache(dir / "catalog.sqlite", clock.function());
    cache.put("u", someRecords(), start);
    for (const Case& c : cases) {
        clock.now = start + c.age;
        EXPECT_EQ(cache.get("u").has_value(), c.hit) << c.age.count();
    }
    EXPECT_EQ(cache.count(), 1);  // an expired row stays
}

TEST(CatalogCache, DamagedRowsAreMisses) {
    TempDir dir;
    const auto db = dir / "catalog.sqlite";
    FakeClock clock;
    CatalogCache cache(db, clock.function());
    sqlite(db, R"(INSERT INTO search VALUES ('not json', 'oops', 1700000000),
        ('object', '{}', 1700000000), ('wrong type', '[{"trackNumber":"5"}]', 1700000000),
        ('text time', '[]', 'yesterday'), ('blob', X'FF00', 1700000000),
        ('beyond a double', '[{"trackNumber":1e400}]', 1700000000), ('fine', '[{}]', 1700000000))");
    for (const char* url :
         {"not json", "object", "wrong type", "text time", "blob", "beyond a double"}) {
        EXPECT_EQ(cache.get(url), std::nullopt) << url;
    }
    EXPECT_EQ(cache.get("fine"), CatalogRecords{CatalogRecord{}});
    EXPECT_EQ(cache.count(), 7);
}

TEST(CatalogCache, ImportStoresEveryEntryWithTheFileTimeAndRenamesWhenAsked) {
    TempDir dir;
    const auto legacy = dir / "catalog_cache.json";
    writeFile(legacy, R"({"https://x/search?term=a": [{"trackName": "A"}],
                          "https://x/search?term=b": [],
                          "https://x/lookup?id=1": [{}, {"wrapperType": "track"}]})");
    const Time modified = Time{} + 1'600'000'000s;
    std::filesystem::last_write_time(legacy, std::chrono::file_clock::from_sys(modified));
    FakeClock clock;
    clock.now = modified + maxAge;
    CatalogCache cache(dir / "catalog.sqlite", clock.function());
    cache.put("https://x/search?term=b", someRecords(), start);  // replaced by the import

    EXPECT_EQ(cache.importLegacy(legacy, false), 3u);
    EXPECT_TRUE(std::filesystem::exists(legacy));
    EXPECT_EQ(cache.count(), 3);
    EXPECT_EQ(sqlite(dir / "catalog.sqlite", "SELECT DISTINCT fetched_at FROM search"),
              "1600000000.0\n");
    EXPECT_EQ(cache.get("https://x/search?term=b"), CatalogRecords{});
    EXPECT_EQ(cache.get("https://x/lookup?id=1")->size(), 2u);

    EXPECT_EQ(cache.importLegacy(legacy, true), 3u);
    EXPECT_FALSE(std::filesystem::exists(legacy));
    EXPECT_TRUE(std::filesystem::exists(dir / "catalog_cache.json.imported"));
    EXPECT_EQ(cache.count(), 3);
    clock.now += 1s;
    EXPECT_EQ(cache.get("https://x/search?term=a"), std::nullopt);  // the file's time counts
}

TEST(CatalogCache, ImportNeverReplacesAnEarlierImportedFile) {
    TempDir dir;
    writeFile(dir / "catalog_cache.json", "{}");
    writeFile(dir / "catalog_cache.json.imported", "earlier");
    CatalogCache cache(dir / "catalog.sqlite");
    EXPECT_EQ(cache.importLegacy(dir / "catalog_cache.json", true), 0u);
    EXPECT_TRUE(std::filesystem::exists(dir / "catalog_cache.json"));
    EXPECT_EQ(testing::readFile(dir / "catalog_cache.json.imported"), "earlier");
}

TEST(CatalogCache, ImportOfAnUnreadableFileThrowsAndWritesNothing) {
    struct Case {
        std::string name;
        std::optional<std::string> content;  // absent: no file at all
    };
    const std::vector<Case> cases = {
        {"missing", std::nullopt},
        {"not json", "catalog"},
        {"bad record", R"({"a": [{}], "b": [{"trackNumber": "5"}]})"},
        {"number beyond a double", R"({"a": [{"trackNumber": 7E777}]})"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        const auto legacy = dir / "catalog_cache.json";
        if (c.content) writeFile(legacy, *c.content);
        CatalogCache cache(dir / "catalog.sqlite");
        EXPECT_ANY_THROW(cache.importLegacy(legacy, true)) << c.name;
        EXPECT_EQ(cache.count(), 0) << c.name;
        EXPECT_EQ(std::filesystem::exists(legacy), c.content.has_value()) << c.name;
    }
}

TEST(CatalogCache, ImportRefusedByALockedDatabaseKeepsTheFileAndLeavesNoTransaction) {
    TempDir dir;
    const auto db = dir / "catalog.sqlite";
    const auto legacy = dir / "catalog_cache.json";
    writeFile(legacy, R"({"a": [], "b": []})");
    CatalogCache cache(db);
    {
        Locker writer(db, "BEGIN IMMEDIATE");
        try {
            cache.importLegacy(legacy, true);
            ADD_FAILURE() << "import succeeded under another writer's lock";
        } catch (const ConversionError& error) {
            EXPECT_TRUE(error.description().starts_with("書き込めません: " + db.string() + "（"))
                << error.description();
        }
        EXPECT_TRUE(std::filesystem::exists(legacy));
    }
    // Had the import left its transaction open, this row would never reach the file.
    cache.put("c", {}, std::chrono::system_clock::now());
    EXPECT_EQ(CatalogCache(db).count(), 1);
    EXPECT_EQ(cache.importLegacy(legacy, true), 2u);
    EXPECT_EQ(cache.count(), 3);
}

}  // namespace
}  // namespace tarvik
