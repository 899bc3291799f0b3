#include "Core/Naming/ArtistAliases.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <iterator>
#include <map>
#include <utility>

#include "Core/Platform/AtomicFile.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/Uuid.hpp"
#include "Core/Platform/WholeFile.hpp"

namespace tarvik {
namespace {

ArtistAliases decode(const std::string& bytes) {
    const nlohmann::json document = json::parse(bytes);
    const json::ObjectReader top(document);
    ArtistAliases aliases;
    const nlohmann::json& entries = top.array("entries");
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const json::ObjectReader entry(entries[i],
                                       top.pathOf("entries") + "[" + std::to_string(i) + "]");
        aliases.entries.emplace_back(entry.string("from"), entry.string("to"));
    }
    return aliases;
}

// The present moment as a file name shows it: "20240501-093000", local time.
std::string localStamp() {
    const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    const std::size_t length = std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return std::string(text, length);
}

// Keeps the damaged file `url` under a free damaged name beside it: a second
// name for the same bytes where the file system has them, else a copy. The
// file itself stays where it is until the save replaces it.
void keepBeside(const std::filesystem::path& url) {
    const std::string stamp = localStamp();
    for (int copy = 1; copy <= 99; ++copy) {
        const std::filesystem::path beside = ArtistAliases::damagedName(url, stamp, copy);
        if (::link(url.c_str(), beside.c_str()) == 0) return;
        const int failure = errno;
        if (failure == EEXIST) continue;
        if (failure != EPERM && failure != EXDEV && failure != EOPNOTSUPP && failure != EMLINK) {
            throw ConversionError(
                fileSystemMessage("書き込めません: ", beside.filename().string(), failure));
        }
        struct stat taken {};
        if (::lstat(beside.c_str(), &taken) == 0) continue;
        writeFileAtomically(beside, asText(readWholeFile(url)));
        return;
    }
    throw ConversionError("書き込めません: " + url.filename().string() +
                          "（残す名前がありません）");
}

// The file's time and size and, where it could be read whole, its bytes;
// else why not. Absent where there is no file.
struct Taken {
    std::optional<ArtistAliases::Reading::Seen> seen;
    std::string failure;
};

std::int64_t nanoseconds(const struct timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

Taken take(const std::filesystem::path& url) {
    // A writer replaces the file by renaming a new one over it, so the bytes
    // come from one version; a time and size taken before and after them
    // that agree are that version's. One that changes all the time is
    // taken as the last look found it.
    Taken taken;
    for (int look = 0; look < 5; ++look) {
        struct stat before {};
        if (::stat(url.c_str(), &before) != 0 && errno == ENOENT) return {};
        taken = {ArtistAliases::Reading::Seen{static_cast<std::uintmax_t>(before.st_size),
                                              nanoseconds(before.st_mtim), std::nullopt},
                 ""};
        try {
            // Opened like the profiles: a regular file of at most 1 MiB, never waited on.
            taken.seen->bytes = readSmallFile(url, settingsFileLimit);
        } catch (const std::exception& failure) {
            taken.failure = failure.what();
        }
        struct stat after {};
        if (::stat(url.c_str(), &after) != 0 ||
            (after.st_size == before.st_size &&
             nanoseconds(after.st_mtim) == nanoseconds(before.st_mtim))) {
            break;
        }
    }
    return taken;
}

}  // namespace

ArtistAliases::Entry::Entry() : id(makeUuid()) {}

ArtistAliases::Entry::Entry(std::string from_, std::string to_)
    : id(makeUuid()), from(std::move(from_)), to(std::move(to_)) {}

bool ArtistAliases::Entry::operator==(const Entry& other) const {
    return id == other.id && text::equivalent(from, other.from) && text::equivalent(to, other.to);
}

std::string ArtistAliases::key(std::string_view text) {
    std::string spaced = text::nfc(text);
    std::string compact;
    compact.reserve(spaced.size());
    for (char32_t scalar : text::scalars(spaced)) {
        if (scalar != U' ' && scalar != U'\u3000') text::appendScalar(compact, scalar);
    }
    return text::lower(compact);
}

std::optional<std::size_t> ArtistAliases::firstMatch(std::string_view name,
                                                     std::size_t limit) const {
    const std::string wanted = key(name);
    if (wanted.empty()) return std::nullopt;
    for (std::size_t i = 0; i < std::min(limit, entries.size()); ++i) {
        const Entry& entry = entries[i];
        if (entry.to.empty()) continue;
        if (key(entry.from) == wanted || key(entry.to) == wanted) return i;
    }
    return std::nullopt;
}

std::optional<std::string> ArtistAliases::resolve(std::string_view name) const {
    if (entries.empty()) return std::nullopt;
    if (const auto match = firstMatch(name, entries.size())) return entries[*match].to;
    return std::nullopt;
}

std::optional<std::size_t> ArtistAliases::decidedBefore(std::size_t index) const {
    if (index >= entries.size() || entries[index].to.empty()) return std::nullopt;
    const std::optional<std::size_t> earlier = firstMatch(entries[index].from, index);
    if (!earlier || text::equivalent(entries[*earlier].to, entries[index].to)) return std::nullopt;
    return earlier;
}

TrackMeta ArtistAliases::apply(const TrackMeta& meta) const {
    TrackMeta result = meta;
    if (auto artist = resolve(meta.artist)) result.artist = std::move(*artist);
    if (auto albumArtist = resolve(meta.albumArtist)) result.albumArtist = std::move(*albumArtist);
    return result;
}

ArtistAliases::Reading ArtistAliases::read(const std::filesystem::path& url) {
    Taken taken = take(url);
    Reading reading;
    reading.seen = std::move(taken.seen);
    if (!reading.seen) return reading;
    // The list is a convenience: a damaged file must never stop an export,
    // but nobody may take its emptiness for the user's list either.
    if (!reading.seen->bytes) {  // too large, not a file, or refused by the system
        reading.problem = std::move(taken.failure);
        return reading;
    }
    try {
        reading.aliases = decode(*reading.seen->bytes);
    } catch (const DecodingError& failure) {
        // The JSON library's own words are English and name offsets; where
        // the file broke off or holds a stray byte, this is all that helps.
        reading.problem = failure.kind() == DecodingError::Kind::dataCorrupted
                              ? "JSON として読めません"
                              : std::string(failure.what());
    } catch (const std::exception& failure) {
        reading.problem = failure.what();
    }
    return reading;
}

ArtistAliases ArtistAliases::load(const std::filesystem::path& url) {
    return read(url).aliases;
}

void ArtistAliases::save(const std::filesystem::path& url) const {
    nlohmann::json list = nlohmann::json::array();
    for (const Entry& entry : entries) list.push_back({{"from", entry.from}, {"to", entry.to}});
    const std::string bytes = json::pretty({{"entries", list}});
    // Only a file holds aliases to lose; a folder or a pipe in its place is
    // the write's own failure or simply replaced.
    if (isRegularFile(url) && read(url).problem) keepBeside(url);
    writeFileAtomically(url, bytes);
}

std::filesystem::path ArtistAliases::damagedName(const std::filesystem::path& url,
                                                 std::string_view stamp, int copy) {
    std::string name = url.stem().string() + ".damaged-" + std::string(stamp);
    if (copy > 1) name += "-" + std::to_string(copy);
    return url.parent_path() / (name + url.extension().string());
}

std::vector<std::vector<std::string>> ArtistAliases::findVariants(
    const std::vector<std::string>& names) {
    std::map<std::string, std::vector<std::string>> byKey;
    for (const std::string& name : names) byKey[key(name)].push_back(text::nfc(name));

    std::vector<std::vector<std::string>> groups;
    for (auto& [groupKey, forms] : byKey) {
        // Byte order of UTF-8 is code point order.
        std::sort(forms.begin(), forms.end());
        forms.erase(std::unique(forms.begin(), forms.end()), forms.end());
        if (forms.size() >= 2) groups.push_back(std::move(forms));
    }
    std::sort(groups.begin(), groups.end(),
              [](const auto& a, const auto& b) { return a.front() < b.front(); });
    return groups;
}

}  // namespace tarvik

std::size_t std::hash<tarvik::ArtistAliases::Entry>::operator()(
    const tarvik::ArtistAliases::Entry& entry) const {
    std::size_t seed = 0;
    for (const std::string& part :
         {entry.id, tarvik::text::nfc(entry.from), tarvik::text::nfc(entry.to)}) {
        seed ^= std::hash<std::string>()(part) + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    }
    return seed;
}
