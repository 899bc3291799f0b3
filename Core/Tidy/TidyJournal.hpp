// The record of one tidy run, a JSON Lines file: a header with the library
// root and the start time, then for every change a line saying what is about
// to be done (flushed to the disk before anything is touched) and a short
// completion line after it, so that an undo, or the next apply, can judge and
// finish a change that a crash cut short. Tag texts that are not UTF-8 are
// kept escaped, byte for byte. Journals of older versions, one whole entry
// per change, read as completed entries. Also the results and
// events that applying and undoing report. Values are plain; a JournalWriter
// belongs to one thread. Failures throw ConversionError or DecodingError.
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
#include "Core/Platform/FileStreams.hpp"

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
    TrackMeta old = {};
    TrackMeta new_ = {};  // "new" in the file
    bool tagsWritten = false;
    bool moved = false;
    // The changed fields as the file held them before; undo writes exactly
    // these back. Absent in hand-made journals: then the fields in which
    // `old` and `new` differ, from `old`.
    std::optional<TagFields::Values> rawOld = std::nullopt;
    // Where the changed fields' frames stood in an MP3's tag before, with
    // their flags, and every frame of each (in a FLAC file, every comment):
    // undo puts them back there as they were. Empty for M4A files and in
    // journals of older versions (whose places hold no frames).
    TagFields::FramePlaces placesOld = {};
    // The file's size before its tags were written, so that undo can give
    // back its old length too.
    std::optional<std::uint64_t> sizeBefore = std::nullopt;
    // And its content's SHA-256 digest then, as the run checked it: the
    // song a killed run never wrote is judged by it, and so is a song the
    // run only moved when it is undone. Absent in journals of older
    // versions, and, for songs only moved, in those of the versions before.
    std::optional<std::string> sha256Before = std::nullopt;
    // The file had no tag of the kind written (an MP3 without an ID3v2
    // tag or with one that holds no text, a FLAC file without a comment
    // block, an M4A without an item list): undo takes what was added away
    // again. And an MP3's ID3v1 trailer as it was (128 bytes), which
    // the change may have updated. Absent in journals of older versions.
    bool tagAdded = false;
    std::optional<Bytes> trailerOld = std::nullopt;
    // The atom an M4A without an item list was given to hold one ("udta",
    // "meta" or "ilst"), which the undo takes away with the list.
    std::optional<std::string> addedAtom = std::nullopt;
    // The file right after the change; undo leaves a file that no longer
    // matches alone. Absent: not checked.
    std::optional<std::uint64_t> size = std::nullopt;
    std::optional<std::int64_t> modified = std::nullopt;  // nanoseconds since 1970

    // Written ahead: the line says what is about to be done ("pending"),
    // numbered ("id") for its completion line. Still pending after reading:
    // no completion was recorded, the disk must tell how far it went.
    std::optional<std::int64_t> id = std::nullopt;
    bool pending = false;
    // A folder renamed as a whole (letter case or normal form only); `old`
    // and `new` are empty.
    bool folder = false;
    // The hidden name a change of letter case goes through, both ways.
    std::optional<std::string> stopover = std::nullopt;
    // The file before its tags were written: a rewrite gives it a new inode.
    // Judges only entries of older versions, which don't announce their
    // content: an inode number means nothing once a volume is mounted again.
    std::optional<std::uint64_t> inodeBefore = std::nullopt;
    // The run records the new content (TidyJournalNewContent) before it puts
    // it in the song's place: where that record is missing, the song was
    // never replaced.
    bool announcesContent = false;
    // That record, where there is one.
    std::optional<NewContent> newContent = std::nullopt;
    // The content the song was left with, where a run that finished this
    // one after a crash judged the song by its bytes (its size is `size`):
    // undo leaves the song alone unless it still holds exactly that.
    std::optional<std::string> sha256 = std::nullopt;
    // That run found the song never written and no longer as it was checked
    // (`sha256Before`): saved by another program since. Undo fails it, untouched.
    bool savedSince = false;
    // The folders the move makes, below the root, shallow first: an undo,
    // or the run after a crash, removes them again once they are empty.
    std::vector<std::string> made = {};

    bool operator==(const TidyJournalEntry& other) const;

    // One compact line without its line feed, members in the order source,
    // target, old, new, tagsWritten, moved, then the additions. A tag text
    // that is not UTF-8 goes in escaped, byte for byte; throws JournalError
    // when a path or name is not UTF-8.
    std::string line() const;
    // Members looked up by name; throws DecodingError, also for a member
    // that no apply writes so (a trailer not of 128 bytes, an atom of
    // another name).
    static TidyJournalEntry fromLine(std::string_view line);
};

// The new content a tag rewrite is about to put in the song's place,
// recorded once that content is whole beside the song and before the song
// is touched: after a crash, the song holds the run's own write exactly
// when it holds these bytes, whatever its inode number.
struct TidyJournalNewContent {
    std::int64_t id = 0;  // the entry's
    NewContent content;

    std::string line() const;
};

// What a written-ahead change came to: the line after it, written by the
// run itself or, after a crash, by the run that judged the disk
// (`recovered`). The run's own line stands over a judged one.
struct TidyJournalCompletion {
    std::int64_t id = 0;
    bool tagsWritten = false;
    bool moved = false;
    std::optional<std::uint64_t> size = std::nullopt;
    std::optional<std::int64_t> modified = std::nullopt;
    bool recovered = false;
    std::optional<std::string> sha256 = std::nullopt;  // see TidyJournalEntry::sha256
    bool savedSince = false;                           // see TidyJournalEntry::savedSince

    std::string line() const;
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

// Another run is writing the journal (it holds its lock).
class JournalBusy : public JournalError {
public:
    using JournalError::JournalError;
};

// Appends lines to a new journal and flushes each to the disk. The writer
// holds the journal's lock (flock) as long as it lives, so that no other run
// takes the journal of a live run for one a crash cut short.
class JournalWriter {
public:
    // Creates "tidy-" + local yyyyMMdd-HHmmss + ".jsonl" in `folder`, never
    // replacing a file: a name taken, or whose undone name is taken (an
    // undone journal of the same second), gets "-2", "-3", … before
    // ".jsonl". Throws JournalError.
    explicit JournalWriter(
        const std::filesystem::path& folder,
        std::chrono::system_clock::time_point now = std::chrono::system_clock::now());
    // Appends to an existing journal, after ending a torn last line. Throws
    // JournalBusy when its run is still writing it.
    static JournalWriter reopen(const std::filesystem::path& file);
    ~JournalWriter();
    JournalWriter(const JournalWriter&) = delete;
    JournalWriter& operator=(const JournalWriter&) = delete;
    JournalWriter(JournalWriter&& other) noexcept;
    JournalWriter& operator=(JournalWriter&&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The line and "\n", written whole and flushed, or JournalError; a line
    // that could only be written in part (a full disk) is cut off again.
    void append(const std::string& line);
    // Cuts the journal back to `length` bytes (a line the run took back);
    // failures are ignored.
    void truncate(std::uint64_t length);
    std::uint64_t length() const;

private:
    JournalWriter() = default;
    std::filesystem::path path_;
    int descriptor_ = -1;
};

// "tidy-" + local yyyyMMdd-HHmmss + ".jsonl" in `folder`.
std::filesystem::path journalName(const std::filesystem::path& folder,
                                  std::chrono::system_clock::time_point now);
// The journal's name once undone: ".undone" after it.
std::filesystem::path undoneName(const std::filesystem::path& journal);
// The `attempt`-th name a journal named `base` may take: `base` itself,
// then "-2", "-3", … before ".jsonl".
std::filesystem::path journalCandidate(const std::filesystem::path& base, int attempt);
// Whether nothing has the name (not even a link).
bool isFree(const std::filesystem::path& name);

// The header line: {"root": …, "started": ISO 8601 UTC}.
std::string journalHeader(const std::string& root, std::chrono::system_clock::time_point started);

// Whether the run that writes the journal is still going (holds its lock).
bool journalInUse(const std::filesystem::path& file);

struct JournalContents {
    std::string root;
    // In order; each completion applied to its entry, entries that came to
    // nothing dropped.
    std::vector<TidyJournalEntry> entries;
    std::vector<std::string> notices;  // lines skipped
    // Every entry line as written, also those that came to nothing: the
    // places a crash may have left something in.
    std::vector<TidyJournalEntry> lines;
};
// Reads and checks the whole journal before anything is done with it:
// "記録ファイルの形式が違います" for no line or a bad header, the decoder's
// error for a line that is JSON but no entry, naming the journal and the
// line. A line that is not whole (cut by a crash or a full disk) is skipped
// with a notice.
JournalContents readJournal(const std::filesystem::path& file);

}  // namespace tarvik
