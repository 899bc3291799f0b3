// The record of one tidy run, a JSON Lines file: a header with the library
// root and the start time, then one entry per file that was changed, each
// written and flushed to the disk right after its change, so that an undo
// finds every change even after a crash. Also the results and events that
// applying and undoing report. Values are plain; a JournalWriter belongs to
// one thread. Failures throw ConversionError or DecodingError.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Core/Convert/TagFields.hpp"
#include "Core/Naming/TrackMeta.hpp"
#include "Core/Platform/Errors.hpp"

namespace tarvik {

// The journal could not be started or a line could not be recorded: the run
// must end, since a change it can't record could not be undone.
class JournalError : public ConversionError {
public:
    using ConversionError::ConversionError;
};

struct TidyJournalEntry {
    std::string source;  // relative to the root, before the change
    std::string target;  // where the file is after it
    TrackMeta old;
    TrackMeta new_;  // "new" in the file
    bool tagsWritten = false;
    bool moved = false;
    // The changed fields as the file held them before; undo writes exactly
    // these back. Absent in hand-made journals: then the fields in which
    // `old` and `new` differ, from `old`.
    std::optional<TagFields::Values> rawOld;
    // The file's size before its tags were written, so that undo can give
    // back its old length too.
    std::optional<std::uint64_t> sizeBefore;
    // The file right after the change; undo leaves a file that no longer
    // matches alone. Absent: not checked.
    std::optional<std::uint64_t> size;
    std::optional<std::int64_t> modified;  // nanoseconds since 1970

    bool operator==(const TidyJournalEntry& other) const;

    // One compact line without its line feed, members in the order source,
    // target, old, new, tagsWritten, moved, then the additions. Throws
    // JournalError when a text is not valid UTF-8.
    std::string line() const;
    // Members looked up by name; throws DecodingError.
    static TidyJournalEntry fromLine(std::string_view line);
};

struct TidyResult {
    std::int64_t done = 0;
    std::int64_t failed = 0;
    std::optional<std::filesystem::path> journal;  // apply only

    bool operator==(const TidyResult&) const = default;
};

struct TidyEvent {
    struct Progress {
        std::int64_t done = 0;
        std::int64_t total = 0;
        std::string name;
        bool operator==(const Progress&) const = default;
    };
    struct Failed {
        std::string source;
        std::string reason;
        bool operator==(const Failed&) const = default;
    };
    struct Notice {
        std::string text;
        bool operator==(const Notice&) const = default;
    };
    std::variant<Progress, Failed, Notice> value;

    bool operator==(const TidyEvent&) const = default;
};

// Appends lines to a new journal and flushes each to the disk.
class JournalWriter {
public:
    // Creates "tidy-" + local yyyyMMdd-HHmmss + ".jsonl" in `folder`, never
    // replacing a file: a taken name gets "-2", "-3", … before ".jsonl".
    // Throws JournalError.
    explicit JournalWriter(
        const std::filesystem::path& folder,
        std::chrono::system_clock::time_point now = std::chrono::system_clock::now());
    ~JournalWriter();
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The line and "\n", written whole and flushed, or JournalError.
    void append(const std::string& line);

private:
    std::filesystem::path path_;
    int descriptor_ = -1;
};

// "tidy-" + local yyyyMMdd-HHmmss + ".jsonl" in `folder`.
std::filesystem::path journalName(const std::filesystem::path& folder,
                                  std::chrono::system_clock::time_point now);

// The header line: {"root": …, "started": ISO 8601 UTC}.
std::string journalHeader(const std::string& root, std::chrono::system_clock::time_point started);

struct JournalContents {
    std::string root;
    std::vector<TidyJournalEntry> entries;
};
// Reads and checks the whole journal before anything is done with it:
// "記録ファイルの形式が違います" for no line or a bad header, the parser's or
// decoder's error for a bad line.
JournalContents readJournal(const std::filesystem::path& file);

}  // namespace tarvik
