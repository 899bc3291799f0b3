#pragma once
// What an export says and keeps, as plain functions of the runner's events:
// the phase line, the log line of an event, the desktop notification at the
// end of a run, the carry-over set after it, and the folder an item's card
// path belongs to. No state and no Qt: the model applies the results, tests
// check them alone. Any thread; never fails.
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "App/Model/RunState.hpp"
#include "Core/Pipeline/ConversionEvent.hpp"

namespace tarvik::ExportTexts {

inline constexpr std::string_view searching = "曲を探しています…";
inline constexpr std::string_view preparing = "準備しています…";
inline constexpr std::string_view stopping = "中止しています…";
inline constexpr std::string_view activityReason = "SD カードへの音楽変換";
inline constexpr std::string_view noFFmpeg =
    "アプリの中に ffmpeg が見つかりません。アプリを入れ直してください。";
inline constexpr std::string_view noProfile = "カーナビの機種を選んでください。";

// The log line of an export that runs without the aliases, because the file
// that holds them is there but could not be read whole.
std::string aliasesNotApplied(const std::filesystem::path& file, const std::string& problem);

// The phase line of a phase event.
std::string phaseText(const ConversionEvent::Phase& phase);

struct Line {
    LogLine::Kind kind = LogLine::Kind::info;
    std::string text;

    bool operator==(const Line&) const = default;
};

// The log line an event writes; absent for events that write none (phases,
// progress, skipped tracks, the summary).
std::optional<Line> logLine(const ConversionEvent& event);

// The destination folder of a card path: the path without its last component,
// in NFC, so that the keys of the plan and of the events meet.
std::string folderKey(std::string_view relativePath);

struct Notification {
    std::string title;
    std::string body;

    bool operator==(const Notification&) const = default;
};

Notification finishNotification(const ConversionEvent::Summary& summary);

struct CarryOver {
    std::set<std::string> paths;
    bool continuing = false;

    bool operator==(const CarryOver&) const = default;
};

// What the carry-over becomes at the end of a run; absent when it stays as it
// was (a stopped run). A complete run clears it and ends the continuation; a
// full card keeps this card's placed tracks as the carry-over names them
// (album identity and planned path), added to the earlier ones only while
// the export continues from an earlier card.
std::optional<CarryOver> carryOverAfter(const ConversionEvent::Summary& summary,
                                        const CarryOver& before);

}  // namespace tarvik::ExportTexts
