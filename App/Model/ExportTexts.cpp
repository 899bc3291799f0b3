#include "App/Model/ExportTexts.hpp"

#include <filesystem>
#include <type_traits>
#include <variant>

#include "Core/Platform/Text.hpp"

namespace tarvik::ExportTexts {

std::string aliasesNotApplied(const std::filesystem::path& file, const std::string& problem) {
    return "アーティスト名のまとめ「" + file.string() +
           "」を読めないため、まとめずに書き出します（" + problem + "）";
}

namespace {

using Phase = ConversionEvent::Phase;
using Track = ConversionEvent::Track;

std::string number(std::int64_t value) {
    return std::to_string(value);
}

}  // namespace

std::string phaseText(const Phase& phase) {
    return std::visit(
        [](const auto& step) -> std::string {
            using Step = std::decay_t<decltype(step)>;
            if constexpr (std::is_same_v<Step, Phase::Scanning>) {
                return std::string(searching);
            } else if constexpr (std::is_same_v<Step, Phase::Reading>) {
                return "曲の情報を読んでいます… " + number(step.done) + " / " + number(step.total);
            } else if constexpr (std::is_same_v<Step, Phase::LookingUp>) {
                return "曲名の表記を確認中（" + number(step.album) + " / " + number(step.albums) +
                       " 枚目）: " + step.name;
            } else if constexpr (std::is_same_v<Step, Phase::Planning>) {
                return "整理しています…";
            } else if constexpr (std::is_same_v<Step, Phase::Converting>) {
                return "変換しています…";
            } else {
                static_assert(std::is_same_v<Step, Phase::Finishing>);
                return "仕上げています…";
            }
        },
        phase.value);
}

std::optional<Line> logLine(const ConversionEvent& event) {
    using Kind = LogLine::Kind;
    if (const auto* converted = event.trackAs<Track::Converted>()) {
        return Line{Kind::converted, "変換 " + converted->path};
    }
    if (const auto* failed = event.trackAs<Track::Failed>()) {
        const std::string name = std::filesystem::path(failed->source).filename().string();
        return Line{Kind::error, "[失敗] " + name + "\n    " + failed->reason};
    }
    if (const auto* renamed = event.trackAs<Track::Renamed>()) {
        return Line{Kind::renamed, "曲名 " + renamed->oldMeta.artist + " / " +
                                       renamed->oldMeta.title + " → " + renamed->newMeta.artist +
                                       " / " + renamed->newMeta.title};
    }
    if (const auto* notice = event.as<ConversionEvent::Notice>()) {
        return Line{Kind::notice, notice->text};
    }
    return std::nullopt;
}

std::string folderKey(std::string_view relativePath) {
    const std::size_t slash = relativePath.rfind('/');
    return text::nfc(slash == std::string_view::npos ? std::string_view{}
                                                     : relativePath.substr(0, slash));
}

Notification finishNotification(const ConversionEvent::Summary& summary) {
    Notification notification;
    if (summary.stopped) {
        notification.title = "中止しました";
    } else if (summary.cardFull) {
        notification.title = "SD カードがいっぱいになりました";
    } else {
        notification.title = "書き出しが終わりました";
    }
    notification.body = number(summary.progress.done) + " 曲を書き出しました";
    if (const std::int64_t failed = summary.songsFailed(); failed >= 1) {
        notification.body += "（" + number(failed) + " 曲は失敗）";
    }
    return notification;
}

std::optional<CarryOver> carryOverAfter(const ConversionEvent::Summary& summary,
                                        const CarryOver& before) {
    if (summary.stopped) return std::nullopt;
    if (!summary.cardFull) return CarryOver{};
    CarryOver after{before.continuing ? before.paths : std::set<std::string>{}, before.continuing};
    // Each track by its album and planned place, wherever this card put it.
    after.paths.insert(summary.carried.begin(), summary.carried.end());
    return after;
}

}  // namespace tarvik::ExportTexts
