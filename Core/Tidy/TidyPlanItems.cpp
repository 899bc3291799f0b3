// Building a plan from records: one item per file, then the two passes over
// the whole plan that keep artist folders whole and hold back name clashes.

#include <sys/stat.h>

#include <map>
#include <set>

#include "Core/Catalog/TitleFixer.hpp"
#include "Core/Convert/TagEditor.hpp"
#include "Core/Naming/PosixFS.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Tidy/TidyFileState.hpp"
#include "Core/Tidy/TidyPlanner.hpp"

namespace tarvik {
namespace {

constexpr std::string_view sameReason = "すでに正式な表記です";
constexpr std::string_view noCandidateReason = "候補が見つかりません";
constexpr std::string_view placePart = "ファイル名・場所";
constexpr std::string_view undecodedTagsReason = "タグの文字を読み取れないので名前を変えません";
constexpr std::string_view undecodedTagsNote = "タグの文字を読み取れないので名前はそのまま";
constexpr std::string_view clashBetweenReason = "同じ名前になる曲がほかにあります";
constexpr std::string_view clashExistingReason =
    "同じ名前のファイルがすでにあります（重複の可能性）";

std::vector<std::string> pieces(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string path;
    for (const std::string& part : parts) path += (path.empty() ? "" : "/") + part;
    return path;
}

std::string folded(const std::string& path) {
    return text::lower(text::nfc(path));
}

std::string extensionOf(const std::string& path) {
    const std::string name = std::filesystem::path(path).filename().string();
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? std::string() : text::lower(name.substr(dot + 1));
}

// Whether a level of the path below the root is a link.
bool throughLink(const std::filesystem::path& root, const std::string& relative) {
    std::filesystem::path at = root;
    for (const std::string& part : pieces(relative)) {
        at /= part;
        struct stat facts {};
        if (::lstat(at.c_str(), &facts) != 0) return false;
        if (S_ISLNK(facts.st_mode)) return true;
    }
    return false;
}

// What an undecodable byte of a tag became when it was read.
bool spellsNothing(std::string_view text) {
    return text.find("\uFFFD") != std::string_view::npos;
}

TidyItem heldItem(const std::string& source, const TrackMeta& read, std::string reason) {
    TidyItem item;
    item.source = item.target = source;
    item.old = item.new_ = read;
    item.status = TidyItem::Status::hold;
    item.reason = std::move(reason);
    item.tagsEditable = TagEditor::canEdit(source);
    return item;
}

TidyItem plannedItem(const std::string& source, const TrackMeta& read, TrackMeta proposed,
                     bool matched, std::int64_t nameMax) {
    const auto& compilations = TitleFixer::compilationArtists();
    if (compilations.contains(text::nfc(proposed.albumArtist)) &&
        !compilations.contains(text::nfc(read.albumArtist))) {
        proposed.albumArtist = read.albumArtist;
    }
    if (read.disc.empty() && proposed.disc == "1") proposed.disc.clear();

    const std::vector<std::string> parts = pieces(source);
    const std::optional<std::string> artistFolder =
        parts.size() >= 2 ? std::optional(parts.front()) : std::nullopt;
    const std::optional<std::string> albumFolder =
        parts.size() >= 3 ? std::optional(parts[parts.size() - 2]) : std::nullopt;
    const std::string extension = extensionOf(source);

    TidyItem item;
    item.source = source;
    item.target = TidyPlanner::targetPath(proposed, extension, nameMax, artistFolder, albumFolder);
    item.old = read;
    item.new_ = std::move(proposed);
    item.tagsEditable = TagEditor::canEdit(source);
    const TrackMeta& o = item.old;
    const TrackMeta& n = item.new_;
    const bool title = !text::equivalent(o.title, n.title);
    const bool artist =
        !text::equivalent(o.artist, n.artist) || !text::equivalent(o.albumArtist, n.albumArtist);
    const bool album = !text::equivalent(o.album, n.album);
    const bool number = !text::equivalent(o.track, n.track) || !text::equivalent(o.disc, n.disc);
    item.tagsChange = title || artist || album || number;
    item.pathChange = !text::equivalent(item.target, item.source);
    const bool unspelled =
        item.pathChange &&
        (spellsNothing(item.target) || spellsNothing(o.title) || spellsNothing(o.artist) ||
         spellsNothing(o.albumArtist) || spellsNothing(o.album) || spellsNothing(o.track) ||
         spellsNothing(o.disc));
    if (unspelled) {
        // Tag bytes that could not be decoded read as U+FFFD: a name made
        // of them would hold characters the tag never spelled.
        item.target = item.source;
        item.pathChange = false;
        if (!item.tagsChange) {
            item.status = TidyItem::Status::hold;
            item.reason = undecodedTagsReason;
            item.new_ = item.old;
            return item;
        }
    }

    if (!item.tagsChange && !item.pathChange) {
        item.status = matched ? TidyItem::Status::same : TidyItem::Status::hold;
        item.reason = matched ? sameReason : noCandidateReason;
        return item;
    }
    item.status = TidyItem::Status::change;
    const std::pair<bool, std::string_view> parts_[] = {{title, "曲名"},
                                                        {artist, "アーティスト"},
                                                        {album, "アルバム"},
                                                        {number, "番号"},
                                                        {item.pathChange, placePart}};
    for (const auto& [differs, label] : parts_) {
        if (differs) item.reason += (item.reason.empty() ? "" : "・") + std::string(label);
    }
    if (item.tagsChange && !item.tagsEditable) {
        item.reason += "（" + extension + " はタグを書けないので名前だけ）";
    }
    if (unspelled) item.reason += "（" + std::string(undecodedTagsNote) + "）";
    return item;
}

// One present artist folder whose tracks would go to several planned artist
// folders (a compilation, a guest) stays one folder.
void keepArtistFoldersWhole(std::vector<TidyItem>& items) {
    std::map<std::string, std::set<std::string>> plannedFor;
    for (const TidyItem& item : items) {
        const auto source = pieces(item.source), target = pieces(item.target);
        if (source.size() >= 2 && target.size() >= 2) {
            plannedFor[text::nfc(source.front())].insert(text::nfc(target.front()));
        }
    }
    for (TidyItem& item : items) {
        const auto source = pieces(item.source);
        auto target = pieces(item.target);
        if (source.size() < 2 || target.size() < 2 ||
            text::equivalent(source.front(), target.front()) ||
            plannedFor[text::nfc(source.front())].size() < 2) {
            continue;
        }
        target.front() = source.front();
        item.target = joined(target);
        item.pathChange = !text::equivalent(item.target, item.source);
        if (item.pathChange || item.status != TidyItem::Status::change) continue;
        if (!item.tagsChange) {
            item.status = TidyItem::Status::same;
            item.reason = sameReason;
        } else {
            item.reason = text::replacing(item.reason, "・" + std::string(placePart), "");
        }
    }
}

void holdClashes(std::vector<TidyItem>& items, const std::filesystem::path& root) {
    auto moving = [](const TidyItem& item) {
        return item.status == TidyItem::Status::change && item.pathChange;
    };
    std::map<std::string, std::vector<std::size_t>> byTarget;
    std::set<std::string> staying, sources;
    for (std::size_t i = 0; i < items.size(); ++i) {
        sources.insert(folded(items[i].source));
        if (moving(items[i])) {
            byTarget[folded(items[i].target)].push_back(i);
        } else {
            staying.insert(folded(items[i].source));
        }
    }
    for (const auto& [key, group] : byTarget) {
        if (group.size() >= 2) {
            for (std::size_t i : group) {
                items[i].status = TidyItem::Status::hold;
                items[i].reason = clashBetweenReason;
            }
            continue;
        }
        TidyItem& item = items[group.front()];
        const bool clash =
            staying.contains(key) || (folded(item.source) != key && !sources.contains(key) &&
                                      PosixFS::exists(root / item.target));
        if (clash) {
            item.status = TidyItem::Status::hold;
            item.reason = clashExistingReason;
        }
    }
}

}  // namespace

TidyPlan TidyPlanner::planItem(const std::vector<std::filesystem::path>& files,
                               const std::vector<TrackMeta>& read,
                               const std::vector<TrackMeta>& proposed,
                               const std::set<std::size_t>& matched,
                               const std::map<std::size_t, std::string>& held) const {
    std::string rootPath = root.lexically_normal().string();
    while (rootPath.size() > 1 && rootPath.back() == '/') rootPath.pop_back();
    if (rootPath == "/") rootPath.clear();

    TidyPlan plan;
    plan.root = rootPath.empty() ? "/" : rootPath;
    for (std::size_t i = 0; i < files.size() && i < read.size() && i < proposed.size(); ++i) {
        const std::optional<std::string> source = relativePath(files[i], rootPath);
        if (!source) continue;
        if (!text::isValidUTF8(*source)) {
            plan.items.push_back(heldItem(*source, read[i], std::string(undecodableNameReason)));
        } else if (const auto reason = held.find(i); reason != held.end()) {
            plan.items.push_back(heldItem(*source, read[i], reason->second));
        } else if (throughLink(root, *source)) {
            // A link would lead the changes out of the library, or bring
            // another library's file in.
            plan.items.push_back(heldItem(*source, read[i], std::string(linkReason)));
        } else {
            plan.items.push_back(
                plannedItem(*source, read[i], proposed[i], matched.contains(i), nameMax));
        }
        if (const auto facts = FileIdentity::at(files[i])) {
            plan.items.back().size = facts->size;
            plan.items.back().modified = facts->modified;
        }
    }
    keepArtistFoldersWhole(plan.items);
    holdClashes(plan.items, plan.root);
    plan.created = std::chrono::system_clock::now();
    return plan;
}

}  // namespace tarvik
