#include "App/Model/VolumeList.hpp"

#include <algorithm>

#include "Core/Naming/PosixFS.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik {
namespace {

std::string joined(const std::vector<std::string>& items, std::size_t count,
                   const std::string& separator) {
    std::string out;
    for (std::size_t i = 0; i < std::min(count, items.size()); ++i) {
        if (i > 0) out += separator;
        out += items[i];
    }
    return out;
}

}  // namespace

bool countsAsRemovable(const VolumeService::Mounted& volume) {
    return volume.removable.value_or(false) || volume.ejectable.value_or(false) ||
           volume.internal == false;
}

std::string volumeFolderName(const std::filesystem::path& path) {
    std::string text = path.native();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    const std::size_t slash = text.rfind('/');
    return slash == std::string::npos || text.size() == 1 ? text : text.substr(slash + 1);
}

std::vector<Volume> volumeList(const std::vector<VolumeService::Mounted>& mounted) {
    struct Listed {
        Volume volume;
        std::string key;  // NFC name: UTF-8 bytes sort in scalar order
    };
    std::vector<Listed> listed;
    for (const VolumeService::Mounted& m : mounted) {
        if (m.rootFileSystem.value_or(false)) continue;
        Volume volume{.url = m.path,
                      .name = m.name.value_or(volumeFolderName(m.path)),
                      .free = m.available.value_or(0),
                      .removable = countsAsRemovable(m)};
        std::string key = text::nfc(volume.name);
        listed.push_back({std::move(volume), std::move(key)});
    }
    std::stable_sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) {
        if (a.volume.removable != b.volume.removable) return a.volume.removable;
        return a.key < b.key;
    });
    std::vector<Volume> volumes;
    for (Listed& item : listed) volumes.push_back(std::move(item.volume));
    return volumes;
}

bool autoCleanAllowed(const AutoCleanFacts& facts, const std::filesystem::path& volume) {
    const bool usedByExport = facts.busy && text::equivalent(facts.destPath, volume.native());
    return facts.autoCleanSD && !usedByExport && !facts.sendingToCard && facts.isCardVolume;
}

std::optional<std::string> cleanNoticeText(const std::string& name,
                                           const SDCardTools::CleanResult& result) {
    if (!result.changed() && result.failed.empty()) return std::nullopt;
    std::string notice = "SD カード「" + name + "」を掃除しました（隠しファイル " +
                         std::to_string(result.removed) + " 個、名前の修正 " +
                         std::to_string(result.renamed) +
                         " 個）。このままカーナビに差して大丈夫です。";
    if (!result.failed.empty())
        notice += " 名前を直せなかったもの: " + joined(result.failed, 3, "、");
    return notice;
}

std::filesystem::path interactiveCleanRoot(const std::filesystem::path& chosen) {
    const std::filesystem::path composed = text::nfc(chosen.native());
    return PosixFS::isDirectory(composed) ? composed : chosen;
}

std::string cleanAlertText(const SDCardTools::CleanResult& result) {
    std::string text = "隠しファイルを " + std::to_string(result.removed) + " 個消しました。\n" +
                       "カーナビが読めない名前（濁点の分離、「〜」などの記号）を " +
                       std::to_string(result.renamed) + " 個直しました。";
    if (!result.failed.empty()) {
        text += "\n次の " + std::to_string(result.failed.size()) +
                " 個は名前を変えられませんでした（同じ名前のファイルがある など）:\n" +
                joined(result.failed, 8, "\n");
        if (result.failed.size() > 8) text += "\n…";
    }
    return text;
}

std::string cleaningCountText(std::int64_t done, std::int64_t total) {
    if (total == 0) return "ファイルを数えています…";
    return std::to_string(done) + " / " + std::to_string(total) + " 個を確認しました";
}

std::string ejectFailureText(const std::string& name, const std::string& reason) {
    return "取り出せません: " + name + "（" + reason + "）";
}

}  // namespace tarvik
