#include "Core/Tidy/TidyJournal.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <map>
#include <set>
#include <utility>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/FileStreams.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Platform/Sha256.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/TextEncoding.hpp"
#include "Core/Platform/WholeFile.hpp"

namespace tarvik {
namespace {

constexpr std::string_view badFormat = "記録ファイルの形式が違います";

// A SHA-256 digest as this program writes it, or nothing where the line has none.
std::optional<std::string> digestFrom(const json::ObjectReader& reader, const std::string& key) {
    std::optional<std::string> digest = reader.optionalString(key);
    if (digest && !isSha256Hex(*digest)) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, reader.pathOf(key), *digest);
    }
    return digest;
}

// A TidyJournalNewContent line: its entry's id and the content.
std::pair<std::int64_t, NewContent> newContentFrom(const nlohmann::json& value) {
    const json::ObjectReader reader(value);
    const std::int64_t id = reader.integer("writes");
    const std::int64_t size = reader.integer("size");
    if (size < 0) throw DecodingError(DecodingError::Kind::dataCorrupted, "size", {});
    std::optional<std::string> digest = digestFrom(reader, "sha256");
    if (!digest) throw DecodingError(DecodingError::Kind::keyNotFound, "sha256", {});
    return {id, {static_cast<std::uint64_t>(size), reader.integer("modified"), std::move(*digest)}};
}

// One line after the header: an entry, the new content it announces, or
// its completion, each added to what is known of the journal.
void readLine(const nlohmann::json& value, std::string_view line, JournalContents& contents,
              std::set<std::int64_t>& written,
              std::map<std::int64_t, TidyJournalCompletion>& outcomes,
              std::map<std::int64_t, NewContent>& announced) {
    if (value.is_object() && value.contains("writes")) {
        const auto [id, content] = newContentFrom(value);
        if (!written.contains(id)) {
            throw DecodingError(DecodingError::Kind::dataCorrupted, "writes", {});
        }
        announced[id] = content;
        return;
    }
    if (value.is_object() && value.contains("completes")) {
        const json::ObjectReader reader(value);
        const std::optional<std::int64_t> id = reader.optionalInteger("completes");
        if (!id || !written.contains(*id)) {
            throw DecodingError(DecodingError::Kind::dataCorrupted, "completes", {});
        }
        TidyJournalCompletion outcome{*id,
                                      reader.boolean("tagsWritten"),
                                      reader.boolean("moved"),
                                      std::nullopt,
                                      reader.optionalInteger("modified"),
                                      reader.optionalBoolean("recovered").value_or(false),
                                      digestFrom(reader, "sha256"),
                                      reader.optionalBoolean("savedSince").value_or(false)};
        if (const auto size = reader.optionalInteger("size")) {
            if (*size < 0) throw DecodingError(DecodingError::Kind::dataCorrupted, "size", {});
            outcome.size = static_cast<std::uint64_t>(*size);
        }
        // The run's own word on its change stands over another run's
        // judgement of the disk, whichever came last.
        const auto earlier = outcomes.find(*id);
        if (earlier == outcomes.end() || !outcome.recovered || earlier->second.recovered) {
            outcomes[*id] = outcome;
        }
        return;
    }
    TidyJournalEntry entry = TidyJournalEntry::fromLine(line);
    if (entry.id) written.insert(*entry.id);
    contents.lines.push_back(std::move(entry));
}

}  // namespace

std::filesystem::path journalName(const std::filesystem::path& folder,
                                  std::chrono::system_clock::time_point now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return folder / ("tidy-" + std::string(stamp) + ".jsonl");
}

std::filesystem::path undoneName(const std::filesystem::path& journal) {
    return journal.string() + ".undone";
}

std::filesystem::path journalCandidate(const std::filesystem::path& base, int attempt) {
    if (attempt == 1) return base;
    return base.parent_path() / (base.stem().string() + "-" + std::to_string(attempt) + ".jsonl");
}

bool isFree(const std::filesystem::path& name) {
    struct stat facts {};
    return ::lstat(name.c_str(), &facts) != 0 && errno == ENOENT;
}

JournalWriter::JournalWriter(const std::filesystem::path& folder,
                             std::chrono::system_clock::time_point now) {
    const std::filesystem::path base = journalName(folder, now);
    for (int attempt = 1; descriptor_ < 0; ++attempt) {
        path_ = journalCandidate(base, attempt);
        // Never the name of an undone journal either: this one's undo
        // could not be marked so.
        const bool undoneTaken = !isFree(undoneName(path_));
        int error = EEXIST;
        if (!undoneTaken) {
            descriptor_ =
                ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
            error = errno;
        }
        if (descriptor_ < 0 && (error != EEXIST || attempt >= 1000)) {
            throw JournalError(
                fileSystemMessage("記録ファイルを作れません: ", path_.filename().string(), error));
        }
    }
    ::flock(descriptor_, LOCK_EX | LOCK_NB);  // new: nobody else holds it
    syncFolder(folder);
}

JournalWriter JournalWriter::reopen(const std::filesystem::path& file) {
    JournalWriter writer;
    writer.path_ = file;
    writer.descriptor_ = ::open(file.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    if (writer.descriptor_ < 0) {
        throw JournalError(
            fileSystemMessage("記録ファイルに書けません: ", file.filename().string(), errno));
    }
    if (::flock(writer.descriptor_, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        throw JournalBusy("記録ファイルは別の整理が書いています: " + file.filename().string());
    }
    const std::uint64_t size = writer.length();
    char last = '\n';
    if (size > 0 && ::pread(writer.descriptor_, &last, 1, static_cast<off_t>(size - 1)) != 1) {
        last = '\n';
    }
    if (last != '\n') writer.append("");  // ends the torn line: it stays unread
    return writer;
}

JournalWriter::JournalWriter(JournalWriter&& other) noexcept
    : path_(std::move(other.path_)), descriptor_(std::exchange(other.descriptor_, -1)) {}

JournalWriter::~JournalWriter() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

std::uint64_t JournalWriter::length() const {
    struct stat facts {};
    if (::fstat(descriptor_, &facts) != 0) return 0;
    return static_cast<std::uint64_t>(facts.st_size);
}

void JournalWriter::truncate(std::uint64_t length) {
    if (::ftruncate(descriptor_, static_cast<off_t>(length)) == 0) ::fsync(descriptor_);
}

void JournalWriter::append(const std::string& line) {
    const std::uint64_t start = length();
    std::string_view rest;
    const std::string whole = line + "\n";
    rest = whole;
    const auto fail = [&](int error) {
        // Half a line would swallow the next one: take it back if the disk lets us.
        truncate(start);
        throw JournalError(
            fileSystemMessage("記録ファイルに書けません: ", path_.filename().string(), error));
    };
    while (!rest.empty()) {
        const ssize_t written = ::write(descriptor_, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) fail(errno);
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
    if (::fsync(descriptor_) != 0) fail(errno);
}

bool journalInUse(const std::filesystem::path& file) {
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (descriptor < 0) return false;
    const bool busy = ::flock(descriptor, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(descriptor);
    return busy;
}

JournalContents readJournal(const std::filesystem::path& file) {
    const std::string text = text::decodeUTF8(readWholeFile(file));
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) lines.push_back(std::string_view(text).substr(start, end - start));
        start = end + 1;
    }
    if (lines.empty()) throw ConversionError(std::string(badFormat));
    const nlohmann::json header = json::parse(lines.front());
    if (!header.is_object() || header.empty() || !header.contains("root")) {
        throw ConversionError(std::string(badFormat));
    }
    for (const auto& [key, member] : header.items()) {
        if (!member.is_string()) throw ConversionError(std::string(badFormat));
    }
    JournalContents contents{header.at("root").get<std::string>(), {}, {}, {}};
    std::set<std::int64_t> written;  // a completion follows its entry line
    std::map<std::int64_t, TidyJournalCompletion> outcomes;
    std::map<std::int64_t, NewContent> announced;
    for (std::size_t i = 1; i < lines.size(); ++i) {
        nlohmann::json value;
        try {
            value = nlohmann::json::parse(lines[i]);
        } catch (const nlohmann::json::exception&) {
            contents.notices.push_back("記録ファイルの途中で切れた行を読み飛ばしました（" +
                                       std::to_string(i + 1) + " 行目）");
            continue;
        }
        try {
            readLine(value, lines[i], contents, written, outcomes, announced);
        } catch (const DecodingError& error) {
            // Said of the journal and its line: the one who reads the
            // message may have many.
            throw DecodingError(
                error.kind(), error.codingPath(),
                file.filename().string() + " の " + std::to_string(i + 1) + " 行目");
        }
    }
    for (TidyJournalEntry& line : contents.lines) {
        const auto content = line.id ? announced.find(*line.id) : announced.end();
        if (content != announced.end()) line.newContent = content->second;
    }
    for (TidyJournalEntry entry : contents.lines) {
        const auto outcome = entry.id ? outcomes.find(*entry.id) : outcomes.end();
        if (outcome != outcomes.end()) {
            entry.pending = false;
            entry.tagsWritten = outcome->second.tagsWritten;
            entry.moved = entry.moved && outcome->second.moved;
            if (!entry.moved) entry.target = entry.source;
            entry.size = outcome->second.size;
            entry.modified = outcome->second.modified;
            entry.sha256 = outcome->second.sha256;
            entry.savedSince = outcome->second.savedSince;
        }
        if (entry.pending || entry.tagsWritten || entry.moved || entry.savedSince) {
            contents.entries.push_back(std::move(entry));
        }
    }
    return contents;
}

}  // namespace tarvik
