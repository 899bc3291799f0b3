#include "App/Windows/AliasContent.hpp"

#include "Core/Platform/Text.hpp"

namespace tarvik::AliasContent {

std::vector<std::vector<std::string>> suggestions(const std::vector<std::string>& artists,
                                                  const ArtistAliases& working) {
    std::vector<std::vector<std::string>> groups;
    for (auto& group : ArtistAliases::findVariants(artists)) {
        if (groups.size() == maxSuggestions) break;
        // All names of a group share one key: the first stands for the rest.
        if (!group.empty() && !working.resolve(group.front())) groups.push_back(std::move(group));
    }
    return groups;
}

void merge(ArtistAliases& working, const std::vector<std::string>& group,
           const std::string& target) {
    bool added = false;
    for (const std::string& name : group) {
        if (name == target) continue;
        working.entries.emplace_back(name, target);
        added = true;
    }
    if (!added) working.entries.emplace_back(target, target);
}

std::vector<ArtistAliases::Entry> kept(const std::vector<ArtistAliases::Entry>& entries) {
    std::vector<ArtistAliases::Entry> result;
    for (const auto& entry : entries)
        if (!text::trim(entry.from).empty() && !text::trim(entry.to).empty())
            result.push_back(entry);
    return result;
}

std::map<std::string, std::string> refusedRows(const ArtistAliases& working) {
    const ArtistAliases saved{kept(working.entries)};
    std::map<std::string, std::string> refused;
    for (std::size_t i = 0; i < saved.entries.size(); ++i) {
        if (const auto earlier = saved.decidedBefore(i)) {
            refused[saved.entries[i].id] =
                mappedTwiceText(saved.entries[i].from, saved.entries[*earlier].to);
        }
    }
    return refused;
}

std::string groupText(const std::vector<std::string>& group) {
    std::string joined;
    for (const std::string& name : group) joined += (joined.empty() ? "" : " ／ ") + name;
    return joined;
}

std::string mergeItemText(const std::string& name) {
    return "「" + name + "」にそろえる";
}

std::string saveErrorText(const std::string& reason) {
    return "保存できませんでした: " + reason;
}

std::string mappedTwiceText(const std::string& name, const std::string& earlierTarget) {
    return "「" + text::trim(name) + "」は上の行で「" + earlierTarget +
           "」にそろえています。1 つの名前は 1 つの名前にしかそろえられません。";
}

std::string damagedFileText(const std::filesystem::path& file, const std::string& problem) {
    return "アーティスト名のまとめ「" + file.string() + "」を読めませんでした（" + problem +
           "）。書き出しには使われません。保存すると、このファイルは「" +
           ArtistAliases::damagedName(file, "日時").filename().string() +
           "」として同じフォルダに残ります。";
}

}  // namespace tarvik::AliasContent
