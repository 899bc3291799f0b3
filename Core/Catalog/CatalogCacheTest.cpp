#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <latch>
#include <string>
#include <thread>
#include <tuple>
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

const Time start = Time{} + 1'700'000'000s;
const auto maxAge = std::chrono::days(CatalogCache::maxAgeDays);

// Runs SQL through the sqlite3 program, an independent reader and writer.
std::string sqlite(const fs::path& db, const std::string& sql) {
    const auto result = testing::runCommand({"sqlite3", db.string(), sql});
    EXPECT_EQ(result.exitCode, 0) << sql;
    return result.output;
}

// A row that is not a list of records or has no usable time is a miss, and
// a file that is no database is refused. One stored "in the future" by a
// clock that was ahead is a hit.
TEST(CatalogCache, TakesNoDamagedRowForAnAnswer) {
    testing::TempDir dir;
    const auto db = dir / "a/b/catalog.sqlite";
    CatalogCache cache(db, [] { return start; });
    cache.put("empty", {}, start + 1h);               // by a clock that was ahead
    EXPECT_EQ(cache.get("empty"), CatalogRecords{});  // a hit, unlike a missing address
    sqlite(db, R"(INSERT INTO search VALUES ('not json', 'oops', 1700000000),
        ('object', '{}', 1700000000), ('wrong type', '[{"trackNumber":"5"}]', 1700000000),
        ('text time', '[]', 'yesterday'), ('blob', X'FF00', 1700000000),
        ('beyond a double', '[{"trackNumber":1e400}]', 1700000000), ('fine', '[{}]', 1700000000))");
    for (const char* url :
         {"not json", "object", "wrong type", "text time", "blob", "beyond a double"}) {
        EXPECT_EQ(cache.get(url), std::nullopt) << url;
    }
    EXPECT_EQ(cache.get("fine"), CatalogRecords{CatalogRecord{}});

    testing::writeFile(dir / "garbage", std::string(4096, 'x'));
    EXPECT_THROW(CatalogCache(dir / "garbage"), ConversionError) << "no database at all";
}

// Every entry goes in with the file's time, or none does and the file stays:
// when it is missing, no JSON, no object, holds a bad record or a number
// beyond a double, or the database is locked by another writer, or it was stopped.
TEST(CatalogCache, ImportStoresEveryEntryOrNoneAndMovesOnlyAnImportedFile) {
    const std::vector<std::tuple<std::optional<std::string>, bool, std::string>> cases = {
        {R"({"a": [{"trackName": "A"}], "b": [], "c": [{}, {}]})", false, ""},
        {std::nullopt, false, "読み込めません: "},
        {"catalog", false, "undecodable"},
        {R"([{"trackName": "B"}])", false, "undecodable"},
        {R"({"a": [{}], "b": [{"trackNumber": "5"}]})", false, "undecodable"},
        {R"({"a": [{"trackNumber": 7E777}]})", false, "undecodable"},
        {R"({"a": [], "b": []})", true, "書き込めません: "}};
    for (const auto& [content, locked, refusal] : cases) {
        testing::TempDir dir;
        const auto db = dir / "catalog.sqlite", legacy = dir / "catalog_cache.json";
        if (content) testing::writeFile(legacy, *content);
        if (content) fs::last_write_time(legacy, std::chrono::file_clock::from_sys(start - maxAge));
        Time now = start;
        // Held for the whole import, the lock outlasts a short patience.
        CatalogCache cache(
            db, [&] { return now; }, locked ? 200ms : CatalogCache::defaultPatience);
        cache.put("b", {{}}, start);
        // Another connection holds the lock until it is closed, which rolls
        // its transaction back. A deferred BEGIN would lock nothing yet.
        sqlite3* writer = nullptr;
        if (locked) {
            sqlite3_open(db.c_str(), &writer);
            sqlite3_exec(writer, "BEGIN IMMEDIATE; CREATE TABLE held (x)", nullptr, nullptr,
                         nullptr);
        }
        if (refusal.empty()) {  // a stopped import (the program quits) stores nothing
            std::stop_source stopped;
            stopped.request_stop();
            EXPECT_EQ(cache.importLegacy(legacy, true, stopped.get_token()), 0u);
            EXPECT_EQ(cache.count(), 1);
            EXPECT_TRUE(fs::exists(legacy));
        }
        std::string error;
        try {
            EXPECT_EQ(cache.importLegacy(legacy, true, {}), 3u);
        } catch (const ConversionError& refused) {
            error = refused.description();
        } catch (const DecodingError&) {
            error = "undecodable";
        }
        sqlite3_close_v2(writer);
        EXPECT_EQ(error.substr(0, refusal.size()), refusal) << error;
        EXPECT_EQ(fs::exists(legacy), content && !refusal.empty()) << error;
        if (refusal.empty()) {
            EXPECT_EQ(cache.count(), 3);
            EXPECT_EQ(cache.get("b"), CatalogRecords{});
            now += 1s;
            EXPECT_EQ(cache.get("a"), std::nullopt);  // the file's time counts
            // An earlier import's file is never replaced.
            testing::writeFile(legacy, "{}");
            EXPECT_EQ(cache.importLegacy(legacy, true, {}), 0u);
            EXPECT_TRUE(fs::exists(legacy));
        } else {
            EXPECT_EQ(cache.get("b"), CatalogRecords{{}}) << error;
            // Had the import left its transaction open, this row would never reach the file.
            cache.put("c", {}, start);
            EXPECT_EQ(CatalogCache(db).count(), 2) << error;
        }
    }
}

// One export's share of two starting together on a new cache: opens it and
// stores `rows` answers of its own. The failure's text, empty when none.
std::string storeAnswers(const fs::path& db, const std::string& who, int rows) {
    try {
        CatalogCache cache(db);
        for (int i = 0; i < rows; ++i)
            cache.put(who + std::to_string(i), {{.trackName = who}}, start);
        return "";
    } catch (const std::exception& failure) {
        return failure.what();
    }
}

// Two exports that start together on a new cache both open it, and every
// answer each stored is there afterwards: as two connections of one process,
// and as two processes.
TEST(CatalogCache, TwoCachesOpeningANewFileAtOnceBothRunAndLoseNoAnswer) {
    constexpr int rows = 30;
    for (const bool processes : {false, true}) {
        for (int round = 0; round < 4; ++round) {
            testing::TempDir dir;
            const fs::path db = dir / "catalog.sqlite";
            std::vector<std::string> failures;
            if (processes) {
                // Both children wait on one pipe and start when it closes.
                int go[2];
                ASSERT_EQ(::pipe(go), 0);
                std::vector<pid_t> children;
                for (const char* who : {"a", "b"}) {
                    const pid_t child = ::fork();
                    ASSERT_GE(child, 0);
                    if (child == 0) {
                        ::close(go[1]);
                        char byte;
                        (void)!::read(go[0], &byte, 1);
                        ::_exit(storeAnswers(db, who, rows).empty() ? 0 : 1);
                    }
                    children.push_back(child);
                }
                ::close(go[0]);
                ::close(go[1]);
                for (const pid_t child : children) {
                    int status = 0;
                    ::waitpid(child, &status, 0);
                    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
                        failures.push_back("process " + std::to_string(child));
                }
            } else {
                std::latch ready(2);
                std::string a, b;
                std::jthread first([&] {
                    ready.arrive_and_wait();
                    a = storeAnswers(db, "a", rows);
                });
                std::jthread second([&] {
                    ready.arrive_and_wait();
                    b = storeAnswers(db, "b", rows);
                });
                first.join();
                second.join();
                for (const std::string& failure : {a, b})
                    if (!failure.empty()) failures.push_back(failure);
            }
            EXPECT_EQ(failures, std::vector<std::string>{}) << processes << " round " << round;
            CatalogCache cache(db, [] { return start; });
            EXPECT_EQ(cache.count(), 2 * rows) << processes << " round " << round;
            EXPECT_EQ(cache.get("b" + std::to_string(rows - 1)),
                      CatalogRecords{{.trackName = "b"}});
            EXPECT_EQ(sqlite(db, "PRAGMA journal_mode"), "wal\n");
        }
    }
}

}  // namespace
}  // namespace tarvik
