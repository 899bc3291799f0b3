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
#include "Core/Platform/Iso8601.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/TextEncoding.hpp"
#include "Core/Platform/WholeFile.hpp"

namespace tarvik {
namespace {

constexpr std::string_view badFormat = "記録ファイルの形式が違います";

std::string dumped(const nlohmann::ordered_json& value) {
    try {
        // Strict: a name or tag that is not UTF-8 can't be recorded, and a
        // replaced character would make undo write something else back.
        return value.dump();
    } catch (const nlohmann::json::exception&) {
        throw JournalError("記録ファイルに書けない文字があります");
    }
}

}  // namespace

bool TidyJournalEntry::operator==(const TidyJournalEntry& other) const {
    return text::equivalent(source, other.source) && text::equivalent(target, other.target) &&
           old == other.old && new_ == other.new_ && tagsWritten == other.tagsWritten &&
           moved == other.moved && rawOld == other.rawOld && sizeBefore == other.sizeBefore &&
           size == other.size && modified == other.modified && id == other.id &&
           pending == other.pending && folder == other.folder && stopover == other.stopover &&
           inodeBefore == other.inodeBefore && made == other.made;
}

std::string TidyJournalEntry::line() const {
    nlohmann::ordered_json value = {{"source", source},
                                    {"target", target},
                                    {"old", nlohmann::ordered_json(old.toJSON())},
                                    {"new", nlohmann::ordered_json(new_.toJSON())},
                                    {"tagsWritten", tagsWritten},
                                    {"moved", moved}};
    if (rawOld) {
        nlohmann::ordered_json& raw = value["rawOld"] = nlohmann::ordered_json::object();
        for (const auto& [field, text] : *rawOld) {
            raw[TagFields::rawValue(field)] = text ? nlohmann::ordered_json(*text) : nullptr;
        }
    }
    if (sizeBefore) value["sizeBefore"] = *sizeBefore;
    if (size) value["size"] = *size;
    if (modified) value["modified"] = *modified;
    if (id) value["id"] = *id;
    if (pending) value["pending"] = true;
    if (folder) value["folder"] = true;
    if (stopover) value["stopover"] = *stopover;
    if (inodeBefore) value["inodeBefore"] = *inodeBefore;
    if (!made.empty()) value["made"] = made;
    return dumped(value);
}

std::string TidyJournalCompletion::line() const {
    nlohmann::ordered_json value = {
        {"completes", id}, {"tagsWritten", tagsWritten}, {"moved", moved}};
    if (size) value["size"] = *size;
    if (modified) value["modified"] = *modified;
    if (recovered) value["recovered"] = true;
    return dumped(value);
}

TidyJournalEntry TidyJournalEntry::fromLine(std::string_view line) {
    const nlohmann::json value = json::parse(line);
    const json::ObjectReader reader(value);
    TidyJournalEntry entry;
    entry.source = reader.string("source");
    entry.target = reader.string("target");
    reader.object("old");
    entry.old = TrackMeta::fromJSON(value.at("old"), "old");
    reader.object("new");
    entry.new_ = TrackMeta::fromJSON(value.at("new"), "new");
    entry.tagsWritten = reader.boolean("tagsWritten");
    entry.moved = reader.boolean("moved");
    if (reader.hasValue("rawOld")) {
        reader.object("rawOld");
        TagFields::Values raw;
        for (const auto& [key, text] : value.at("rawOld").items()) {
            const auto field = TagFields::fieldFromRaw(key);
            if (!field)
                throw DecodingError(DecodingError::Kind::dataCorrupted, "rawOld." + key, {});
            raw[*field] = text.is_null() ? std::nullopt
                                         : std::optional(json::asString(text, "rawOld." + key));
        }
        entry.rawOld = std::move(raw);
    }
    for (auto [key, member] :
         {std::pair("size", &entry.size), std::pair("sizeBefore", &entry.sizeBefore),
          std::pair("inodeBefore", &entry.inodeBefore)}) {
        if (const auto bytes = reader.optionalInteger(key)) {
            if (*bytes < 0) throw DecodingError(DecodingError::Kind::dataCorrupted, key, {});
            *member = static_cast<std::uint64_t>(*bytes);
        }
    }
    entry.modified = reader.optionalInteger("modified");
    entry.id = reader.optionalInteger("id");
    entry.pending = reader.optionalBoolean("pending").value_or(false);
    entry.folder = reader.optionalBoolean("folder").value_or(false);
    entry.stopover = reader.optionalString("stopover");
    if (entry.stopover && !entry.stopover->starts_with(".tarvik-rename-")) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, "stopover", *entry.stopover);
    }
    if (reader.hasValue("made")) {
        const nlohmann::json& made = value.at("made");
        if (!made.is_array()) throw DecodingError(DecodingError::Kind::typeMismatch, "made", {});
        for (const nlohmann::json& folder : made) {
            entry.made.push_back(json::asString(folder, "made"));
        }
    }
    return entry;
}

std::filesystem::path journalName(const std::filesystem::path& folder,
                                  std::chrono::system_clock::time_point now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return folder / ("tidy-" + std::string(stamp) + ".jsonl");
}

std::string journalHeader(const std::string& root, std::chrono::system_clock::time_point started) {
    return dumped({{"root", root}, {"started", iso8601::format(started)}});
}

JournalWriter::JournalWriter(const std::filesystem::path& folder,
                             std::chrono::system_clock::time_point now) {
    const std::filesystem::path base = journalName(folder, now);
    for (int attempt = 1; descriptor_ < 0; ++attempt) {
        path_ = attempt == 1
                    ? base
                    : folder / (base.stem().string() + "-" + std::to_string(attempt) + ".jsonl");
        descriptor_ =
            ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
        if (descriptor_ < 0 && (errno != EEXIST || attempt >= 1000)) {
            throw JournalError(
                fileSystemMessage("記録ファイルを作れません: ", path_.filename().string(), errno));
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
    for (std::size_t i = 1; i < lines.size(); ++i) {
        nlohmann::json value;
        try {
            value = nlohmann::json::parse(lines[i]);
        } catch (const nlohmann::json::exception&) {
            contents.notices.push_back("記録ファイルの途中で切れた行を読み飛ばしました（" +
                                       std::to_string(i + 1) + " 行目）");
            continue;
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
                                          reader.optionalBoolean("recovered").value_or(false)};
            if (const auto size = reader.optionalInteger("size"); size && *size >= 0) {
                outcome.size = static_cast<std::uint64_t>(*size);
            }
            // The run's own word on its change stands over another run's
            // judgement of the disk, whichever came last.
            const auto earlier = outcomes.find(*id);
            if (earlier == outcomes.end() || !outcome.recovered || earlier->second.recovered) {
                outcomes[*id] = outcome;
            }
            continue;
        }
        TidyJournalEntry entry = TidyJournalEntry::fromLine(lines[i]);
        if (entry.id) written.insert(*entry.id);
        contents.lines.push_back(std::move(entry));
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
        }
        if (entry.pending || entry.tagsWritten || entry.moved) {
            contents.entries.push_back(std::move(entry));
        }
    }
    return contents;
}

}  // namespace tarvik
