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

}  // namespace tarvik::AliasContent
