#include "Core/Catalog/CatalogCache.hpp"

#include <sqlite3.h>

#include <string>
#include <system_error>

#include "Core/Platform/Errors.hpp"

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

enum class RowResult { stored, skipped, failed };

// Skipped: this entry cannot be written (its text cannot be encoded or
// bound). Failed: the database refused the write, and would refuse the next.
RowResult writeRow(sqlite3* db, std::string_view url, const CatalogRecords& records,
                   double fetchedAt) {
    std::string text;
    try {
        text = CatalogJson::encodeList(records);
    } catch (const std::exception&) {
        return RowResult::skipped;
    }
    Statement statement(db, insertRow);
    if (!statement) return RowResult::failed;
    if (!statement.bindText(1, url) || !statement.bindText(2, text) ||
        !statement.bindDouble(3, fetchedAt)) {
        return RowResult::skipped;
    }
    return statement.step() == SQLITE_DONE ? RowResult::stored : RowResult::failed;
}

}  // namespace

CatalogCache::CatalogCache(std::filesystem::path location, Clock clock)
    : location_(std::move(location)), clock_(std::move(clock)) {
    if (location_.has_parent_path()) std::filesystem::create_directories(location_.parent_path());

    const std::string failure = "キャッシュを開けません: " + location_.string();
    if (sqlite3_open_v2(location_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw ConversionError(failure);
    }
    // SQLite opens lazily: a file that is no database, or one another
    // connection holds locked, only shows here. A cache that could never read
    // or write would hide that, so it is an error of opening.
    if (execute(db_, "PRAGMA journal_mode=WAL") != SQLITE_OK ||
        execute(db_, createTable) != SQLITE_OK) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw ConversionError(failure);
    }
}

CatalogCache::~CatalogCache() {
    if (db_ != nullptr) sqlite3_close(db_);
}

std::optional<CatalogRecords> CatalogCache::get(std::string_view url) {
    std::lock_guard lock(mutex_);
    Statement statement(db_, "SELECT json, fetched_at FROM search WHERE url = ?");
    if (!statement || !statement.bindText(1, url) || statement.step() != SQLITE_ROW) {
        return std::nullopt;
    }
    const auto* text = sqlite3_column_text(statement.get(), 0);
    if (text == nullptr) return std::nullopt;
    const int length = sqlite3_column_bytes(statement.get(), 0);
    const double fetchedAt = sqlite3_column_double(statement.get(), 1);
    if (secondsSince1970(clock_()) - fetchedAt > maxAgeSeconds) return std::nullopt;
    try {
        return CatalogJson::decodeList(std::string_view(reinterpret_cast<const char*>(text),
                                                        static_cast<std::size_t>(length)));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void CatalogCache::put(std::string_view url, const CatalogRecords& records,
                       std::chrono::system_clock::time_point at) {
    std::lock_guard lock(mutex_);
    writeRow(db_, url, records, secondsSince1970(at));
}

std::int64_t CatalogCache::count() {
    std::lock_guard lock(mutex_);
    Statement statement(db_, "SELECT COUNT(*) FROM search");
    if (!statement || statement.step() != SQLITE_ROW) return 0;
    return sqlite3_column_int64(statement.get(), 0);
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
        // Every entry goes in or none does: a half import followed by the
        // rename would lose the rest of the older file for good.
        bool refused = execute(db_, "BEGIN") != SQLITE_OK;
        for (auto entry = answers.begin(); !refused && entry != answers.end(); ++entry) {
            if (stop.stop_requested()) {
                execute(db_, "ROLLBACK");
                return 0;
            }
            refused = writeRow(db_, entry->first, entry->second, fetchedAt) == RowResult::failed;
        }
        if (!refused) refused = execute(db_, "COMMIT") != SQLITE_OK;
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
