#include "App/Windows/SendContent.hpp"

#include <algorithm>
#include <map>

#include "Core/Platform/ByteCountFormat.hpp"
#include "Core/Platform/NameOrder.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/SDCard/CardNames.hpp"
#include "Core/SDCard/CardTree.hpp"
#include "Core/SDCard/CardVolumes.hpp"

namespace tarvik::SendContent {
namespace {

// `path` is `folder` or lies below it, both taken in NFC.
bool isAtOrBelow(const std::string& path, const std::string& folder) {
    const std::string p = text::nfc(path);
    const std::string f = text::nfc(folder);
    return p == f || p.starts_with(f + "/");
}

}  // namespace

std::optional<Volume> selectedCard(const std::vector<Volume>& cards, const std::string& cardPath) {
    if (cardPath.empty()) return std::nullopt;
    for (const Volume& card : cards) {
        if (text::equivalent(card.url.native(), cardPath)) return card;
    }
    return std::nullopt;
}

std::set<std::string> busyFolders(const std::string& source, const ModelFacts& model) {
    if (source.empty() || model.writingFolders.empty()) return {};
    return text::equivalent(source, model.destPath) ? model.writingFolders
                                                    : std::set<std::string>{};
}

bool sourceIsMusicLibrary(const std::string& source, const std::string& srcPath) {
    if (source.empty() || srcPath.empty()) return false;
    return isAtOrBelow(source, srcPath);
}

std::string suggestedSource(const ModelFacts& model, bool lastExportThere) {
    if (!model.lastExportPath.empty() && lastExportThere) return model.lastExportPath;
    for (const Volume& volume : model.volumes) {
        if (text::equivalent(volume.url.native(), model.destPath)) return "";
    }
    return model.destPath;
}

bool offersSuggestion(const std::string& suggested, const std::string& srcPath) {
    return !suggested.empty() && !suggested.starts_with(srcPath);
}

std::vector<Album> filteredAlbums(const std::vector<Album>& albums, const std::string& filter) {
    const std::string wanted = text::lower(text::nfc(text::trim(filter)));
    if (wanted.empty()) return albums;
    std::vector<Album> result;
    for (const Album& album : albums) {
        if (text::lower(album.relativePath).find(wanted) != std::string::npos)
            result.push_back(album);
    }
    return result;
}

std::vector<Album> chosenAlbums(const std::vector<Album>& albums,
                                const std::set<std::string>& picked,
                                const std::set<std::string>& busy) {
    std::vector<Album> result;
    for (const Album& album : albums) {
        if (picked.contains(album.id()) && !busy.contains(album.id())) result.push_back(album);
    }
    return result;
}

std::set<std::string> pickAllNotOnCard(const std::vector<Album>& filtered,
                                       const std::set<std::string>& onCard,
                                       const std::set<std::string>& busy) {
    std::set<std::string> result;
    for (const Album& album : filtered) {
        if (!onCard.contains(album.id()) && !busy.contains(album.id())) result.insert(album.id());
    }
    return result;
}

bool hasDeepAlbum(const std::vector<Album>& albums) {
    return std::ranges::any_of(albums, [](const Album& album) {
        int pieces = 0;
        std::size_t start = 0;
        const std::string& path = album.relativePath;
        while (start <= path.size()) {
            std::size_t end = path.find('/', start);
            if (end == std::string::npos) end = path.size();
            if (end > start) ++pieces;
            start = end + 1;
        }
        return pieces >= 3;
    });
}

std::vector<ArtistGroup> artistGroups(const std::vector<Album>& filtered) {
    std::vector<ArtistGroup> groups;
    std::map<std::string, std::size_t> index;
    for (const Album& album : filtered) {
        auto [at, added] = index.try_emplace(album.artist, groups.size());
        if (added) groups.push_back(ArtistGroup{album.artist, {}});
        groups[at->second].albums.push_back(album);
    }
    std::ranges::stable_sort(groups, [](const ArtistGroup& a, const ArtistGroup& b) {
        return text::compareNames(a.artist, b.artist) < 0;
    });
    return groups;
}

bool artistTicked(const ArtistGroup& group, const std::set<std::string>& picked,
                  const std::set<std::string>& busy) {
    bool any = false;
    for (const Album& album : group.albums) {
        if (busy.contains(album.id())) continue;
        if (!picked.contains(album.id())) return false;
        any = true;
    }
    return any;
}

void setArtistTicked(const ArtistGroup& group, bool on, std::set<std::string>& picked,
                     const std::set<std::string>& busy) {
    for (const Album& album : group.albums) {
        if (busy.contains(album.id())) continue;
        if (on) {
            picked.insert(album.id());
        } else {
            picked.erase(album.id());
        }
    }
}

SelectionBar selectionBar(const std::vector<Album>& chosen, const std::optional<Volume>& card) {
    std::int64_t tracks = 0;
    std::int64_t bytes = 0;
    for (const Album& album : chosen) {
        tracks += static_cast<std::int64_t>(album.files.size());
        bytes += album.bytes;
    }
    return SelectionBar{
        .text = "選択: " + std::to_string(chosen.size()) + " アルバム・" + std::to_string(tracks) +
                " 曲・" + formatByteCount(bytes),
        .exceedsFreeSpace = card.has_value() && card->free < bytes,
    };
}

std::string cardEntry(const Volume& card) {
    return card.name + " — 空き " + formatByteCount(card.free);
}

std::string albumSize(const Album& album) {
    return std::to_string(album.files.size()) + " 曲・" + formatByteCount(album.bytes);
}

DropCheck checkDrop(const std::vector<std::string>& paths, const std::optional<Volume>& card,
                    const std::string& srcPath) {
    if (!card) return DropCheck{{}, noCardForDrop};
    DropCheck check;
    for (const std::string& path : paths) {
        if (!isAtOrBelow(path, card->url.native())) check.candidates.push_back(path);
    }
    if (!srcPath.empty() && std::ranges::any_of(check.candidates, [&](const std::string& path) {
            return isAtOrBelow(path, srcPath);
        })) {
        check.refusal =
            "変換する前の元の曲（① の音楽のフォルダ）は送れません。メインの画面の "
            "③「書き出す」で変換するか、"
            "書き出したフォルダ（タルヴィク など）からドラッグしてください。";
    }
    return check;
}

double sendingFraction(const Sending& sending) {
    if (sending.total == 0) return 0;
    return static_cast<double>(sending.done) / static_cast<double>(sending.total);
}

std::string sendingText(const Sending& sending) {
    return "写しています " + std::to_string(sending.done) + " / " + std::to_string(sending.total) +
           "\u3000" + sending.name;
}

namespace {

// The first five names joined with "、".
std::string firstFive(const std::vector<std::string>& names) {
    std::string joined;
    const std::size_t shown = std::min<std::size_t>(5, names.size());
    for (std::size_t index = 0; index < shown; ++index) {
        if (index > 0) joined += "、";
        joined += names[index];
    }
    return joined;
}

}  // namespace

FinishedTexts finishedTexts(const Finished& finished) {
    const SendResult& r = finished.result;
    FinishedTexts texts;
    texts.success = !finished.stopped && r.failed.empty();
    texts.headline = finished.stopped    ? "中止しました"
                     : !r.failed.empty() ? "送れなかった曲があります"
                                         : "SD カードに入りました";
    texts.counts = std::to_string(r.copied) + " 曲を写しました";
    if (r.skipped >= 1)
        texts.counts += "、" + std::to_string(r.skipped) + " 曲はもう入っていました";
    if (!r.failed.empty()) {
        texts.counts += "、" + std::to_string(r.failed.size()) + " 曲は送れませんでした";
        texts.notSent = "SD カードで名前が重なるため送れなかったもの: " + firstFive(r.failed);
        if (r.failed.size() > 5)
            texts.notSent += " ほか " + std::to_string(r.failed.size() - 5) + " 曲";
    }
    for (const auto& [album, folder] : r.places) {
        // The card's name of the album, against the one it got.
        const std::string named = SDCardTools::lastComponent(SDCardTools::cardRelativePath(album));
        const std::string took = SDCardTools::lastComponent(folder);
        if (SDCardTools::CardTree::folderKey(named) == SDCardTools::CardTree::folderKey(took))
            continue;
        if (!texts.places.empty()) texts.places += "\n";
        texts.places += "「" + named + "」には別のアルバムがあるため「" + took + "」に送りました";
    }
    if (r.clean.removed >= 1 || r.clean.renamed >= 1) {
        texts.clean = "あわせて、隠しファイル " + std::to_string(r.clean.removed) +
                      " 個を消し、名前 " + std::to_string(r.clean.renamed) +
                      " 個をカーナビが読める形に直しました。";
    }
    if (!r.clean.failed.empty())
        texts.unfixed = "名前を直せなかったもの: " + firstFive(r.clean.failed);
    return texts;
}

}  // namespace tarvik::SendContent
