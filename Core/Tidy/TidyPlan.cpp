#include "Core/Tidy/TidyPlan.hpp"

#include <algorithm>

#include "Core/Platform/AtomicFile.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Iso8601.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/WholeFile.hpp"

namespace tarvik {
namespace {

constexpr std::string_view holdNoCandidate = "候補が見つかりません";

std::vector<TidyItem> withStatus(const std::vector<TidyItem>& items, TidyItem::Status status) {
    std::vector<TidyItem> chosen;
    std::copy_if(items.begin(), items.end(), std::back_inserter(chosen),
                 [status](const TidyItem& item) { return item.status == status; });
    return chosen;
}

std::string statusLabel(TidyItem::Status status) {
    switch (status) {
        case TidyItem::Status::change:
            return "変更";
        case TidyItem::Status::hold:
            return "保留";
        case TidyItem::Status::same:
            return "そのまま";
    }
    return {};
}

std::string csvField(std::string_view field) {
    return "\"" + text::replacing(field, "\"", "\"\"") + "\"";
}

}  // namespace

std::string rawValue(TidyItem::Status status) {
    switch (status) {
        case TidyItem::Status::change:
            return "change";
        case TidyItem::Status::hold:
            return "hold";
        case TidyItem::Status::same:
            return "same";
    }
    return {};
}

std::optional<TidyItem::Status> tidyStatusFromRaw(std::string_view raw) {
    for (auto status : {TidyItem::Status::change, TidyItem::Status::hold, TidyItem::Status::same}) {
        if (rawValue(status) == raw) return status;
    }
    return std::nullopt;
}

bool TidyItem::operator==(const TidyItem& other) const {
    return text::equivalent(source, other.source) && text::equivalent(target, other.target) &&
           old == other.old && new_ == other.new_ && status == other.status &&
           text::equivalent(reason, other.reason) && tagsChange == other.tagsChange &&
           pathChange == other.pathChange && tagsEditable == other.tagsEditable &&
           selected == other.selected && size == other.size && modified == other.modified;
}

nlohmann::json TidyItem::toJSON() const {
    nlohmann::json value = {
        {"source", source},         {"target", target},           {"old", old.toJSON()},
        {"new", new_.toJSON()},     {"status", rawValue(status)}, {"reason", reason},
        {"tagsChange", tagsChange}, {"pathChange", pathChange},   {"tagsEditable", tagsEditable},
        {"selected", selected}};
    if (size) value["size"] = *size;
    if (modified) value["modified"] = *modified;
    return value;
}

TidyItem TidyItem::fromJSON(const nlohmann::json& value, const std::string& path) {
    const json::ObjectReader reader(value, path);
    TidyItem item;
    item.source = reader.string("source");
    item.target = reader.string("target");
    // object() reports a missing or mistyped member by its path first.
    reader.object("old");
    item.old = TrackMeta::fromJSON(value.at("old"), reader.pathOf("old"));
    reader.object("new");
    item.new_ = TrackMeta::fromJSON(value.at("new"), reader.pathOf("new"));
    const std::string status = reader.string("status");
    const std::optional<TidyItem::Status> known = tidyStatusFromRaw(status);
    if (!known) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, reader.pathOf("status"), status);
    }
    item.status = *known;
    item.reason = reader.string("reason");
    item.tagsChange = reader.boolean("tagsChange");
    item.pathChange = reader.boolean("pathChange");
    item.tagsEditable = reader.boolean("tagsEditable");
    item.selected = reader.boolean("selected");
    if (const auto size = reader.optionalInteger("size")) {
        if (*size < 0) {
            throw DecodingError(DecodingError::Kind::dataCorrupted, reader.pathOf("size"), {});
        }
        item.size = static_cast<std::uint64_t>(*size);
    }
    item.modified = reader.optionalInteger("modified");
    return item;
}

bool TidyPlan::operator==(const TidyPlan& other) const {
    return text::equivalent(root, other.root) && created == other.created && items == other.items;
}

std::vector<TidyItem> TidyPlan::changeItems() const {
    return withStatus(items, TidyItem::Status::change);
}
std::vector<TidyItem> TidyPlan::holdItems() const {
    return withStatus(items, TidyItem::Status::hold);
}
std::vector<TidyItem> TidyPlan::sameItems() const {
    return withStatus(items, TidyItem::Status::same);
}

bool TidyPlan::hasCandidate(std::size_t index) const {
    const TidyItem& item = items.at(index);
    return !(item.status == TidyItem::Status::hold &&
             text::equivalent(item.reason, holdNoCandidate));
}

std::string TidyPlan::json() const {
    nlohmann::json value = {{"root", root}, {"created", iso8601::format(created)}};
    nlohmann::json& list = value["items"] = nlohmann::json::array();
    for (const TidyItem& item : items) list.push_back(item.toJSON());
    // A slash can only stand inside a JSON string, so escaping every one is
    // safe; readers of the plan file have always seen them escaped.
    return text::replacing(json::pretty(value), "/", "\\/");
}

TidyPlan TidyPlan::fromJSONText(std::string_view text) {
    const nlohmann::json value = json::parse(text);
    const json::ObjectReader reader(value);
    TidyPlan plan;
    plan.root = reader.string("root");
    const std::string created = reader.string("created");
    const auto moment = iso8601::parse(created);
    if (!moment) {
        throw DecodingError(DecodingError::Kind::dataCorrupted, "created",
                            "ISO 8601 の日時ではありません");
    }
    plan.created = *moment;
    const nlohmann::json& list = reader.array("items");
    for (std::size_t i = 0; i < list.size(); ++i) {
        plan.items.push_back(TidyItem::fromJSON(list[i], "items[" + std::to_string(i) + "]"));
    }
    return plan;
}

void TidyPlan::save(const std::filesystem::path& file) const {
    writeFileAtomically(file, json());
}

TidyPlan TidyPlan::load(const std::filesystem::path& file) {
    const Bytes bytes = readWholeFile(file);
    return fromJSONText(asText(bytes));
}

std::string TidyPlan::csv() const {
    std::string out =
        "\xEF\xBB\xBF"
        "状態,理由,元のパス,新しいパス,元の曲名,新しい曲名,元のアーティスト,新しいアーティスト,"
        "元のアルバム,新しいアルバム,元の番号,新しい番号,タグ書き換え\r\n";
    for (const TidyItem& item : items) {
        const std::string tags = !item.tagsEditable ? "できない形式"
                                 : item.tagsChange  ? "する"
                                                    : "不要";
        const std::string fields[] = {statusLabel(item.status),
                                      item.reason,
                                      item.source,
                                      item.target,
                                      item.old.title,
                                      item.new_.title,
                                      item.old.artist,
                                      item.new_.artist,
                                      item.old.album,
                                      item.new_.album,
                                      item.old.track,
                                      item.new_.track,
                                      tags};
        bool first = true;
        for (const std::string& field : fields) {
            if (!first) out += ",";
            out += csvField(field);
            first = false;
        }
        out += "\r\n";
    }
    return out;
}

}  // namespace tarvik
