#include "Core/Catalog/CatalogCache.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <system_error>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Sleep.hpp"

namespace tarvik {
namespace {

constexpr const char* createTable =
    "CREATE TABLE IF NOT EXISTS search (url TEXT PRIMARY KEY, json TEXT NOT NULL, fetched_at "
    "REAL NOT NULL)";
constexpr const char* insertRow =
    "INSERT OR REPLACE INTO search (url, json, fetched_at) VALUES (?, ?, ?)";

double secondsSince1970(std::chrono::system_clock::time_point time) {
    return std::chrono::duration<double>(time.time_since_epoch()).count();
}

// One prepared statement, finalised when it goes out of scope on every path.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) {
            sqlite3_finalize(statement_);
            statement_ = nullptr;
        }
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    explicit operator bool() const { return statement_ != nullptr; }
    sqlite3_stmt* get() const { return statement_; }

    bool bindText(int index, std::string_view text) {
        // A null pointer would bind SQL NULL instead of the empty text.
        const char* data = text.data() != nullptr ? text.data() : "";
        return sqlite3_bind_text64(statement_, index, data, text.size(), SQLITE_TRANSIENT,
                                   SQLITE_UTF8) == SQLITE_OK;
    }
    bool bindDouble(int index, double value) {
        return sqlite3_bind_double(statement_, index, value) == SQLITE_OK;
    }
    int step() { return sqlite3_step(statement_); }

private:
    sqlite3_stmt* statement_ = nullptr;
};

int execute(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

bool isLocked(int code) {
    const int primary = code & 0xFF;
    return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// writeRow's answer for an entry that cannot be written at all (its text
// cannot be encoded or bound); no SQLite result code has this value.
constexpr int skippedRow = -1;

// SQLITE_DONE when stored, skippedRow, or the code by which the database
// refused the write (SQLITE_BUSY where another connection holds the file).
int writeRow(sqlite3* db, std::string_view url, const std::string& text, double fetchedAt) {
    Statement statement(db, insertRow);
    if (!statement) return sqlite3_errcode(db);
    if (!statement.bindText(1, url) || !statement.bindText(2, text) ||
        !statement.bindDouble(3, fetchedAt)) {
        return skippedRow;
    }
    return statement.step();
}

std::optional<std::string> encoded(const CatalogRecords& records) {
    try {
        return CatalogJson::encodeList(records);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

int CatalogCache::onBusy(void* self, int attempts) {
    const Wait& wait = static_cast<CatalogCache*>(self)->wait_;
    if (wait.stop.stop_requested() || std::chrono::steady_clock::now() >= wait.until) return 0;
    // Short at first, as most holders write one row; never long, so that a
    // freed file is taken soon.
    const auto pause = std::chrono::milliseconds(std::min(attempts + 1, 20));
    return sleepFor(pause, wait.stop) ? 1 : 0;
}

void CatalogCache::beginWait(std::stop_token stop) {
    wait_ = {std::move(stop), std::chrono::steady_clock::now() + patience_};
}

template <typename Step>
int CatalogCache::retrying(Step step) {
    for (;;) {
        const int code = step();
        if (!isLocked(code) || onBusy(this, 4) == 0) return code;
    }
}

CatalogCache::CatalogCache(std::filesystem::path location, Clock clock,
                           std::chrono::milliseconds patience, std::stop_token stop)
    : location_(std::move(location)), clock_(std::move(clock)), patience_(patience) {
    if (location_.has_parent_path()) std::filesystem::create_directories(location_.parent_path());

    const std::string failure = "キャッシュを開けません: " + location_.string();
    if (sqlite3_open_v2(location_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw ConversionError(failure);
    }
    sqlite3_busy_handler(db_, &CatalogCache::onBusy, this);
    beginWait(std::move(stop));
    // SQLite opens lazily: a file that is no database, or one another
    // connection holds locked, only shows here. A cache that could never read
    // or write would hide that, so it is an error of opening. Two processes
    // opening a new file at once each switch it to write-ahead logging and
    // create the table; the one that comes second finds the file locked,
    // and waits.
    if (retrying([this] { return execute(db_, "PRAGMA journal_mode=WAL"); }) != SQLITE_OK ||
        retrying([this] { return execute(db_, createTable); }) != SQLITE_OK) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw ConversionError(failure);
    }
}

CatalogCache::~CatalogCache() {
    if (db_ != nullptr) sqlite3_close(db_);
}

std::optional<CatalogRecords> CatalogCache::get(std::string_view url, std::stop_token stop) {
    std::lock_guard lock(mutex_);
    beginWait(std::move(stop));
    std::optional<std::string> json;
    double fetchedAt = 0;
    retrying([&] {
        Statement statement(db_, "SELECT json, fetched_at FROM search WHERE url = ?");
        if (!statement) return sqlite3_errcode(db_);
        if (!statement.bindText(1, url)) return SQLITE_MISUSE;
        const int code = statement.step();
        if (code != SQLITE_ROW) return code;
        if (const auto* text = sqlite3_column_text(statement.get(), 0); text != nullptr) {
            const int length = sqlite3_column_bytes(statement.get(), 0);
            json.emplace(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length));
        }
        fetchedAt = sqlite3_column_double(statement.get(), 1);
        return SQLITE_OK;
    });
    if (!json) return std::nullopt;
    if (secondsSince1970(clock_()) - fetchedAt > maxAgeSeconds) return std::nullopt;
    try {
        return CatalogJson::decodeList(*json);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void CatalogCache::put(std::string_view url, const CatalogRecords& records,
                       std::chrono::system_clock::time_point at, std::stop_token stop) {
    const std::optional<std::string> text = encoded(records);
    if (!text) return;
    std::lock_guard lock(mutex_);
    beginWait(std::move(stop));
    retrying([&] { return writeRow(db_, url, *text, secondsSince1970(at)); });
}

std::int64_t CatalogCache::count(std::stop_token stop) {
    std::lock_guard lock(mutex_);
    beginWait(std::move(stop));
    std::int64_t rows = 0;
    retrying([&] {
        Statement statement(db_, "SELECT COUNT(*) FROM search");
        if (!statement) return sqlite3_errcode(db_);
        const int code = statement.step();
        if (code == SQLITE_ROW) rows = sqlite3_column_int64(statement.get(), 0);
        return code;
    });
    return rows;
}

std::size_t CatalogCache::importLegacy(const std::filesystem::path& from, bool rename,
                                       std::stop_token stop) {
    if (stop.stop_requested()) return 0;
    // Read and decode before touching the database: a bad file writes nothing.
    const CatalogJson::StoredAnswers answers = CatalogJson::readStoredAnswers(from);

    std::error_code error;
    const auto modified = std::filesystem::last_write_time(from, error);
    const double fetchedAt =
        secondsSince1970(error ? clock_() : std::chrono::file_clock::to_sys(modified));

    {
        std::lock_guard lock(mutex_);
        beginWait(stop);
        // Every entry goes in or none does: a half import followed by the
        // rename would lose the rest of the older file for good. The write
        // lock is taken at the start, where waiting for it is still possible.
        bool refused = retrying([this] { return execute(db_, "BEGIN IMMEDIATE"); }) != SQLITE_OK;
        for (auto entry = answers.begin(); !refused && entry != answers.end(); ++entry) {
            if (stop.stop_requested()) {
                execute(db_, "ROLLBACK");
                return 0;
            }
            const std::optional<std::string> text = encoded(entry->second);
            if (!text) continue;
            const int code = writeRow(db_, entry->first, *text, fetchedAt);
            refused = code != SQLITE_DONE && code != skippedRow;
        }
        if (!refused) refused = retrying([this] { return execute(db_, "COMMIT"); }) != SQLITE_OK;
        if (refused && stop.stop_requested()) {  // stopped while waiting for the file
            execute(db_, "ROLLBACK");
            return 0;
        }
        if (refused) {
            const std::string reason = sqlite3_errmsg(db_);
            // Also leaves no transaction open that would swallow later writes.
            execute(db_, "ROLLBACK");
            throw ConversionError("書き込めません: " + location_.string() + "（" + reason + "）");
        }
    }

    if (rename) {
        std::filesystem::path target = from;
        target += ".imported";
        // Never replace an earlier import's file; a failed move is harmless.
        if (!std::filesystem::exists(target, error) && !error) {
            std::filesystem::rename(from, target, error);
        }
    }
    return answers.size();
}

}  // namespace tarvik
