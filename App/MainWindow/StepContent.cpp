#include "App/MainWindow/StepContent.hpp"

#include <algorithm>

#include "App/Model/SelectionKeys.hpp"
#include "Core/Pipeline/ConversionRunner.hpp"
#include "Core/Pipeline/SpaceEstimate.hpp"
#include "Core/Platform/ByteCountFormat.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik::StepContent {

namespace {

using std::to_string;

// Plain scalar order: UTF-8 byte order is the same order.
bool scalarLess(const std::string& a, const std::string& b) {
    return a < b;
}

}  // namespace

Status musicStatus(const std::string& srcPath, const std::set<std::string>& selected,
                   bool folderMissing, bool checking) {
    if (srcPath.empty())
        return {.text =
                    "音楽ファイル（FLAC / WAV / MP3 など）が「アーティスト / "
                    "アルバム」のフォルダに分かれて入っているフォルダを選んでください。"};
    // Its first look has not answered yet: nothing is known either way.
    if (checking) return {.text = std::string(checkingText)};
    // The ticks wait for the folder's return; none of them counts meanwhile.
    if (folderMissing)
        return {.text = std::string(ConversionRunner::musicFolderLostMessage), .warning = true};
    if (selected.empty())
        return {.text = "左の一覧で、入れたいアーティストにチェックを付けてください。"};
    return {.text = selectionCount(selected), .success = true};
}

std::string selectionCount(const std::set<std::string>& selected) {
    const auto n = selected.size();
    const auto a =
        static_cast<std::size_t>(std::count_if(selected.begin(), selected.end(), isAlbumEntry));
    if (a == 0) return to_string(n) + " 組のアーティストを選んでいます";
    if (a == n) return to_string(a) + " 枚のアルバムを選んでいます";
    return to_string(n - a) + " 組のアーティストと " + to_string(a) + " 枚のアルバムを選んでいます";
}

std::string folderButtonText(const std::string& srcPath) {
    return srcPath.empty() ? "フォルダを選ぶ…" : "変更…";
}

bool isAlbumEntry(const std::string& entry) {
    return entry.find('/') != std::string::npos;
}

bool isTicked(const std::set<std::string>& selected, const std::string& artist) {
    return selected.count(text::nfcName(artist)) > 0;
}

std::set<std::string> ticked(std::set<std::string> selected, const std::string& artist) {
    const std::string name = text::nfcName(artist);
    selected.insert(name);
    const std::string prefix = name + "/";
    std::erase_if(selected, [&](const std::string& entry) {
        return text::nfcName(entry).starts_with(prefix);
    });
    return selected;
}

std::set<std::string> unticked(std::set<std::string> selected, const std::string& artist) {
    selected.erase(text::nfcName(artist));
    return selected;
}

std::set<std::string> withShown(std::set<std::string> selected,
                                const std::vector<std::string>& shown) {
    for (const std::string& name : shown) selected.insert(text::nfcName(name));
    return selected;
}

std::vector<std::string> albumEntries(const std::set<std::string>& selected) {
    std::vector<std::string> entries;
    std::copy_if(selected.begin(), selected.end(), std::back_inserter(entries), isAlbumEntry);
    std::sort(entries.begin(), entries.end(), scalarLess);
    return entries;
}

std::string albumEntryText(const std::string& entry) {
    return text::replacing(SelectionKeys::shown(entry).text, "/", " ／ ");
}

ArtistRow artistRow(const std::string& name) {
    const SelectionKeys::Shown shown = SelectionKeys::shown(name);
    if (!shown.unreadable) return {shown.text, std::nullopt};
    return {shown.text, std::string(unreadableNameNote)};
}

std::string sidebarEmptyText(const std::string& srcPath, bool folderMissing, bool checking) {
    if (srcPath.empty()) return "右の①で音楽のフォルダを選ぶと\nここに一覧が出ます";
    if (checking) return std::string(checkingText);
    // Gone is not empty: the user reconnects the drive or chooses again.
    if (folderMissing) {
        // Its first sentence on a line of its own in the narrow column.
        std::string message(ConversionRunner::musicFolderLostMessage);
        const std::string_view stop = "。";
        return message.insert(message.find(stop) + stop.size(), "\n");
    }
    return "このフォルダの中に\nアーティストのフォルダが見つかりません";
}

std::string countTail(std::size_t artistCount) {
    return "組を選択 / 全 " + to_string(artistCount) + " 組";
}

bool showsInsertHint(const std::vector<Volume>& volumes, const std::string& destPath) {
    return destPath.empty() && std::none_of(volumes.begin(), volumes.end(),
                                            [](const Volume& v) { return v.removable; });
}

bool isPlainFolder(const std::string& destPath, const Volume* destination) {
    return !destPath.empty() && destination == nullptr;
}

std::vector<DestinationEntry> destinationEntries(const std::vector<Volume>& volumes,
                                                 const std::string& destPath,
                                                 const Volume* destination) {
    std::vector<DestinationEntry> entries{{"", "選んでください"}};
    for (const Volume& volume : volumes)
        entries.push_back({volume.url.string(), std::string(volume.removable ? "" : "（内蔵）") +
                                                    volume.name + " — 空き " +
                                                    formatByteCount(volume.free)});
    if (isPlainFolder(destPath, destination))
        entries.push_back({destPath, "フォルダ: " + destPath});
    return entries;
}

std::optional<std::string> capacityText(const Volume* destination, const DeviceProfile* profile,
                                        std::int64_t reserveMB) {
    if (destination == nullptr || profile == nullptr) return std::nullopt;
    // The review sheet's figure: the headroom the run keeps free is no room for songs.
    const auto songs =
        SpaceEstimate::cardCapacity(destination->free, profile->audio.bitrate, reserveMB);
    if (!songs) return std::nullopt;
    return "約 " + to_string(*songs) + " 曲入ります";
}

std::string parentFolder(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const auto slash = trimmed.rfind('/');
    if (slash == std::string::npos) return trimmed.empty() ? trimmed : "";
    if (slash == 0) return "/";
    return trimmed.substr(0, slash);
}

std::string profileItemLabel(const DeviceProfile& profile) {
    if (profile.verified) return profile.name + "  ✓ 確認済み";
    return profile.name + (profile.isBuiltin ? "（試験的）" : "（自分で作った）");
}

std::string profileSummary(const DeviceProfile& p) {
    using Layout = DeviceProfile::Files::Layout;
    std::vector<std::string> parts;
    parts.push_back(p.audio.codec == DeviceProfile::Audio::Codec::mp3 ? "MP3" : "AAC (m4a)");
    if (p.audio.bitrate <= 128)
        parts.push_back("音質: 小さめ（たくさん入る）");
    else if (p.audio.bitrate <= 192)
        parts.push_back("音質: 標準");
    else
        parts.push_back("音質: 高音質（容量を多く使う）");
    parts.push_back(p.tags.artwork.enabled ? "ジャケット画像あり" : "ジャケット画像なし");
    const char* layout = p.files.layout == Layout::flat    ? "全曲 1 フォルダ"
                         : p.files.layout == Layout::album ? "アルバム"
                                                           : "アーティスト/アルバム";
    parts.push_back((p.files.root.empty() ? "" : p.files.root + "/") + layout);
    if (p.files.asciiOnly) parts.push_back("英数字ファイル名");
    if (p.files.maxPerFolder >= 1)
        parts.push_back("1 フォルダ " + to_string(p.files.maxPerFolder) + " 曲まで");
    if (p.verified) parts.push_back("実機確認 " + p.verified->date);
    std::string joined;
    for (const std::string& part : parts) joined += (joined.empty() ? "" : " ・ ") + part;
    return joined;
}

DeviceProfile newProfileFrom(const DeviceProfile& source) {
    DeviceProfile copy = source;
    copy.id.clear();
    copy.name = "うちのナビ（" + text::prefixGraphemes(source.name, 12) + "…）";
    copy.fileURL.reset();
    copy.verified.reset();
    return copy;
}

}  // namespace tarvik::StepContent
