#include <charconv>
#include <cstdio>
#include <limits>

#include "Core/Naming/SafeName.hpp"
#include "Core/Naming/TextNormalizer.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Tidy/TidyPlanner.hpp"

namespace tarvik {
namespace {

constexpr std::u32string_view separatorMarks = U"-_ \u3000";

// The longest prefix of whole grapheme clusters that fits in `limit` bytes:
// Linux refuses longer names, and a cut inside a cluster would leave half a
// character (or half a UTF-8 sequence) in the name.
std::string cutToBytes(const std::string& name, std::size_t limit) {
    if (name.size() <= limit) return name;
    std::string cut;
    for (const std::string& cluster : text::graphemes(name)) {
        if (cut.size() + cluster.size() > limit) break;
        cut += cluster;
    }
    return cut;
}

// A decimal integer with one optional sign and nothing else, within int range.
std::optional<int> integer(std::string_view text) {
    const bool plus = !text.empty() && text.front() == '+';
    if (plus) text.remove_prefix(1);
    if (text.empty() || (text.front() == '-' && (plus || text.size() == 1))) return std::nullopt;
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string folderName(const std::string& tag, std::string_view fallback,
                       const std::optional<std::string>& present, const SafeName::Rules& rules) {
    const std::string planned =
        cutToBytes(SafeName::make(tag, fallback, rules), TidyPlanner::nameBytesMax);
    if (!present || text::equivalent(*present, planned)) return planned;
    if (!TextNormalizer::similar(*present, tag)) return *present;  // the user's own grouping
    if (text::equivalent(TidyPlanner::stripSeparators(*present, separatorMarks),
                         TidyPlanner::stripSeparators(planned, separatorMarks))) {
        return *present;
    }
    return planned;
}

}  // namespace

std::string TidyPlanner::targetPath(const TrackMeta& meta, std::string_view extension,
                                    std::int64_t nameMax,
                                    const std::optional<std::string>& artistFolder,
                                    const std::optional<std::string>& albumFolder) {
    const SafeName::Rules rules{nameMax, false, true, 0, false};
    const std::string artist = folderName(meta.albumArtist, "Unknown Artist", artistFolder, rules);
    const std::string album = folderName(meta.album, "Unknown Album", albumFolder, rules);

    std::string prefix;
    if (const std::optional<int> track = integer(meta.track)) {
        char number[32];
        std::snprintf(number, sizeof number, "%02d ", *track);
        prefix = number;
        if (const std::optional<int> disc = integer(meta.disc); disc && *disc > 1) {
            prefix = std::to_string(*disc) + "-" + prefix;
        }
    }
    const std::size_t room = nameBytesMax - std::min(nameBytesMax - 1, extension.size() + 1);
    const std::string file = cutToBytes(SafeName::make(prefix + meta.title, "Track", rules), room);
    return artist + "/" + album + "/" + file + "." + std::string(extension);
}

std::optional<std::string> TidyPlanner::relativePath(const std::filesystem::path& file,
                                                     const std::string& rootPath) {
    const std::string path = file.lexically_normal().string();
    const std::string prefix = rootPath + "/";
    if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) {
        return std::nullopt;
    }
    return path.substr(prefix.size());
}

std::string TidyPlanner::stripSeparators(std::string_view text, std::u32string_view separators) {
    std::u32string kept;
    for (char32_t scalar : text::scalars(text)) {
        if (separators.find(scalar) == std::u32string_view::npos) kept.push_back(scalar);
    }
    return text::fromScalars(kept);
}

}  // namespace tarvik
