// The library tidy's proposal: for every audio file of the user's library,
// where it is, where it would go, its tags now and after the change, and
// whether the change is proposed, held back or not needed, with a Japanese
// reason. Plain values, safe to copy across threads; saving and loading do
// blocking file I/O on the caller's thread and throw ConversionError or
// DecodingError, never leaving a half-written plan file behind.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Naming/TrackMeta.hpp"

namespace tarvik {

struct TidyItem {
    enum class Status { change, hold, same };

    std::string source;  // relative to the plan's root, "/"-separated
    std::string target;  // equal to source when the place does not change
    TrackMeta old;
    TrackMeta new_;  // "new" in the plan file
    Status status = Status::hold;
    std::string reason;  // Japanese, for the user
    bool tagsChange = false;
    bool pathChange = false;
    bool tagsEditable = false;
    bool selected = true;
    // The file when it was planned ("size", "modified": nanoseconds since
    // 1970); an item whose file changed since is not applied. Absent in
    // plans of older versions: not checked.
    std::optional<std::uint64_t> size = std::nullopt;
    std::optional<std::int64_t> modified = std::nullopt;

    const std::string& id() const { return source; }

    // Texts compared under canonical equivalence.
    bool operator==(const TidyItem& other) const;

    nlohmann::json toJSON() const;
    // Every key required; throws DecodingError naming the key under `path`.
    static TidyItem fromJSON(const nlohmann::json& value, const std::string& path = {});
};

std::string rawValue(TidyItem::Status status);
std::optional<TidyItem::Status> tidyStatusFromRaw(std::string_view raw);

struct TidyPlan {
    std::string root;  // absolute, without a trailing "/"
    std::chrono::system_clock::time_point created;
    std::vector<TidyItem> items;  // in the scanner's order

    bool operator==(const TidyPlan& other) const;

    std::vector<TidyItem> changeItems() const;
    std::vector<TidyItem> holdItems() const;
    std::vector<TidyItem> sameItems() const;

    // False only for an item held because the catalogue offered nothing;
    // an item held for a name clash was matched.
    bool hasCandidate(std::size_t index) const;

    // Pretty-printed, keys sorted, "/" written as "\/", the date in whole
    // seconds. Replaces the file in one step (the folders are made first), so
    // a failed save keeps the previous plan; throws ConversionError.
    void save(const std::filesystem::path& file) const;
    // Accepts "/" escaped or not; throws ConversionError when the file can't
    // be read and DecodingError when it is not a plan. No partial plan.
    static TidyPlan load(const std::filesystem::path& file);

    // The plan as text: JSON, "/" escaped as "\/".
    std::string json() const;
    static TidyPlan fromJSONText(std::string_view text);

    // The spreadsheet report: byte order mark, header, one quoted line per
    // item, every line ended by CR LF.
    std::string csv() const;
};

// Hold reasons for what the tidy can't do with a file at all: its tags could
// not be read (planning from its names would erase them), its name is not
// UTF-8 (a plan file can't carry it), or it is reached through a link.
inline constexpr std::string_view unreadableTagsReason = "タグを読めないので変更しません";
inline constexpr std::string_view undecodableNameReason =
    "ファイル名が UTF-8 ではないので変更しません";
// A link (to a file or on the way to it) is never followed by the tidy.
inline constexpr std::string_view linkReason = "リンクなので変更しません";

}  // namespace tarvik
