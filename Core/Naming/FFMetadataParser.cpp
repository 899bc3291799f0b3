#include "Core/Naming/FFMetadataParser.hpp"

#include <initializer_list>
#include <vector>

#include "Core/Platform/Text.hpp"

namespace tarvik::FFMetadataParser {
namespace {

// A line as user-perceived characters: a backslash or "=" that carries a
// combining mark is another character, so it neither escapes nor separates.
using Clusters = std::vector<std::string>;

std::string unescape(const Clusters& clusters, std::size_t begin, std::size_t end) {
    std::string result;
    for (std::size_t i = begin; i < end; ++i) {
        if (clusters[i] == "\\") {
            if (++i == end) break;  // a lone backslash at the end is dropped
        }
        result += clusters[i];
    }
    return result;
}

void store(const Clusters& entry, Result& result) {
    if (entry.empty() || entry[0] == ";" || entry[0] == "#") return;
    std::size_t separator = 0;
    while (separator < entry.size() && entry[separator] != "=") {
        separator += entry[separator] == "\\" ? 2 : 1;
    }
    if (separator >= entry.size()) return;
    const std::string key = text::nfc(text::lower(unescape(entry, 0, separator)));
    result.global[key] = unescape(entry, separator + 1, entry.size());
}

bool isSectionHeader(const Clusters& line) {
    std::string joined;
    for (const std::string& cluster : line) joined += cluster;
    return joined == "[CHAPTER]" || joined == "[STREAM]";
}

std::string firstValue(const Result& result, std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
        auto found = result.global.find(key);
        if (found == result.global.end()) continue;
        std::string value = text::trim(found->second);
        if (!value.empty()) return value;
    }
    return {};
}

// "3/12" gives "3". What stood before the "/" is trimmed again, so "3 / 12"
// gives a plain number too rather than "3 " that no caller reads as one.
std::string beforeSlash(const std::string& value) {
    const std::size_t slash = value.find('/');
    return slash == std::string::npos ? value : text::trim(value.substr(0, slash));
}

}  // namespace

bool Result::operator==(const Result& other) const {
    if (global.size() != other.global.size()) return false;
    for (auto mine = global.begin(), theirs = other.global.begin(); mine != global.end();
         ++mine, ++theirs) {
        if (mine->first != theirs->first) return false;
        if (!text::equivalent(mine->second, theirs->second)) return false;
    }
    return true;
}

Result parse(std::string_view text) {
    std::vector<std::string_view> lines;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    std::size_t first = 0;
    if (text::prefixGraphemes(lines[0], 11) == ";FFMETADATA") first = 1;

    Result result;
    Clusters pending;
    bool previousContinues = false;
    for (std::size_t index = first; index < lines.size(); ++index) {
        Clusters line = text::graphemes(lines[index]);
        if (!line.empty() && line.back() == "\r") line.pop_back();
        std::size_t backslashes = 0;
        while (backslashes < line.size() && line[line.size() - 1 - backslashes] == "\\") {
            ++backslashes;
        }
        // An odd run ends in an escaped line break; an even run is escaped backslashes.
        const bool continues = backslashes % 2 == 1;
        if (continues) line.pop_back();

        if (previousContinues) {
            pending.push_back("\n");
            pending.insert(pending.end(), line.begin(), line.end());
        } else {
            pending = std::move(line);
        }
        previousContinues = continues;
        if (continues) continue;

        // Chapters, streams and whatever follows them are not the file's own
        // tags. ffmpeg escapes no "[" in a key, so only its own two headers,
        // whole lines, end the section: "[MOOD]=happy" is an entry.
        if (isSectionHeader(pending)) break;
        store(pending, result);
    }
    return result;
}

SourceTags tags(const Result& result) {
    SourceTags tags;
    tags.title = firstValue(result, {"title"});
    tags.artist = firstValue(result, {"artist"});
    tags.albumArtist = firstValue(result, {"album_artist", "albumartist", "album artist"});
    tags.album = firstValue(result, {"album"});
    tags.track = beforeSlash(firstValue(result, {"track", "tracknumber"}));
    tags.disc = beforeSlash(firstValue(result, {"disc", "discnumber"}));
    tags.date = text::prefixGraphemes(firstValue(result, {"date", "year"}), 4);
    tags.genre = firstValue(result, {"genre"});
    return tags;
}

}  // namespace tarvik::FFMetadataParser
