// Keeps every answer of the catalogue service in a SQLite database
// ("catalog.sqlite": one table `search` of url, json, fetched_at), keyed by
// the full request address, and gives answers at most 180 days old back
// instead of asking again; it can also take over an older cache kept as one
// JSON file. The object owns its one connection for its whole life and runs
// each operation to its end under its mutex, so it may be shared by any
// threads. Other connections and other processes (two exports at once) may
// hold the file too: an operation that finds it locked waits for it, up to
// its patience or its stop, and tries again. Opening throws ConversionError
// when the file is no usable database; reads and writes afterwards never
// throw (a miss, or nothing stored).
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string_view>

#include "Core/Catalog/CatalogRecord.hpp"

struct sqlite3;

namespace tarvik {

class CatalogCache {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    static constexpr int maxAgeDays = 180;
    static constexpr double maxAgeSeconds = maxAgeDays * 86400.0;
    // How long one operation waits while another connection holds the file.
    static constexpr std::chrono::milliseconds defaultPatience{10'000};

    // Creates the missing folders (their std::filesystem error is thrown as
    // it comes) and the file, and switches it to write-ahead logging, which
    // another process may be doing at the same moment; ConversionError
    // "キャッシュを開けません: " + path when the file cannot be opened as a
    // database or stays locked by another beyond `patience`, or on `stop`.
    explicit CatalogCache(
        std::filesystem::path location,
        Clock clock = [] { return std::chrono::system_clock::now(); },
        std::chrono::milliseconds patience = defaultPatience, std::stop_token stop = {});
    ~CatalogCache();
    CatalogCache(const CatalogCache&) = delete;
    CatalogCache& operator=(const CatalogCache&) = delete;

    const std::filesystem::path& location() const { return location_; }

    // The stored list, even an empty one; absent when there is no row, the row
    // is older than the age limit (exactly at the limit still counts) or its
    // text is not a list of records.
    std::optional<CatalogRecords> get(std::string_view url, std::stop_token stop = {});
    // Replaces any row of that address; a write that finds the file locked is
    // tried again until it goes in or the patience ends. A failed write is
    // dropped silently: the answer is merely asked again next time.
    void put(std::string_view url, const CatalogRecords& records,
             std::chrono::system_clock::time_point at, std::stop_token stop = {});
    // Rows in the table, expired ones included; 0 when unreadable.
    std::int64_t count(std::stop_token stop = {});

    // Stores every entry of an older cache file (address -> list) with the
    // file's modification time, in one transaction, and with `rename` moves
    // the file to "<name>.imported" (unless that name is taken). Returns the
    // number of entries in the file. Throws ConversionError or DecodingError
    // when the file cannot be read or decoded, and ConversionError when the
    // database refuses the writes; in both cases nothing is stored and the
    // file stays where it was. A stop rolls back what was written and
    // returns 0, the file staying.
    std::size_t importLegacy(const std::filesystem::path& from, bool rename, std::stop_token stop);

private:
    // What the operation under way may wait for another connection's lock.
    struct Wait {
        std::stop_token stop;
        std::chrono::steady_clock::time_point until;
    };
    // SQLite's busy handler: sleeps a little and asks to try again, within `wait_`.
    static int onBusy(void* self, int attempts);
    // Starts an operation's waiting; called with mutex_ held (or before the
    // object is shared).
    void beginWait(std::stop_token stop);
    // `step` (an SQLite result code) again while the file is locked by
    // another: some statements (the journal-mode switch, a write after a
    // read that another writer overtook) fail at once without waiting.
    template <typename Step>
    int retrying(Step step);

    std::filesystem::path location_;
    Clock clock_;
    std::chrono::milliseconds patience_;
    std::mutex
        mutex_;  // guards db_ and wait_: one statement sequence at a time on the one connection
    sqlite3* db_ = nullptr;
    Wait wait_;
};

}  // namespace tarvik
