#include "App/Windows/ReviewContent.hpp"

#include <limits>

#include "App/Model/AppModel.hpp"
#include "Core/Pipeline/CarryOver.hpp"
#include "Core/Pipeline/RunOptions.hpp"
#include "Core/Pipeline/SpaceEstimate.hpp"
#include "Core/Platform/ByteCountFormat.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik {

namespace {

std::string number(std::int64_t value) {
    return std::to_string(value);
}

std::string placeWord(const ReviewSnapshot& snapshot) {
    return snapshot.destination != nullptr ? "SD カード" : "書き出し先のフォルダ";
}

std::int64_t itemCount(const ReviewSnapshot& snapshot) {
    return snapshot.plan != nullptr ? static_cast<std::int64_t>(snapshot.plan->items.size()) : 0;
}

// remaining × bit rate × 1000 ÷ 8 × 260, or nothing when it leaves 64 bits.
std::optional<std::int64_t> songBytes(std::int64_t remaining, std::int64_t bitrate) {
    if (bitrate <= 0) return std::nullopt;
    std::int64_t bytes = 0;
    if (__builtin_mul_overflow(remaining, bitrate, &bytes) ||
        __builtin_mul_overflow(bytes, std::int64_t{1000}, &bytes))
        return std::nullopt;
    bytes /= 8;
    if (__builtin_mul_overflow(bytes, std::int64_t{260}, &bytes)) return std::nullopt;
    return bytes;
}

}  // namespace

ReviewSnapshot ReviewSnapshot::of(const AppModel& model) {
    ReviewSnapshot snapshot;
    snapshot.plan = model.plan() ? &*model.plan() : nullptr;
    snapshot.profile = model.selectedProfile();
    snapshot.destPath = model.destPath();
    snapshot.destination = model.destinationVolume();
    snapshot.continuing = model.continuing();
    snapshot.carryOver = &model.carryOver();
    snapshot.renamed = &model.renamed();
    snapshot.reserveMB = RunOptions().reserveMB;
    return snapshot;
}

ReviewEstimate estimateReview(const ReviewSnapshot& snapshot) {
    ReviewEstimate estimate;
    if (snapshot.plan == nullptr || snapshot.profile == nullptr) return estimate;
    if (snapshot.continuing && snapshot.carryOver != nullptr) {
        // The stored set may come from a file written in either form.
        std::set<std::string> carried;
        for (const std::string& path : *snapshot.carryOver) carried.insert(text::nfc(path));
        for (const auto& item : snapshot.plan->items)
            if (CarryOver::holds(carried, item)) ++estimate.carried;
    }
    estimate.remaining = itemCount(snapshot) - estimate.carried;
    const std::int64_t bitrate = snapshot.profile->audio.bitrate;
    estimate.estimatedBytes = songBytes(estimate.remaining, bitrate);
    if (!estimate.estimatedBytes) return estimate;

    // A folder counts as endless room.
    const std::int64_t capacity =
        snapshot.destination == nullptr
            ? SpaceEstimate::trackCapacity(
                  static_cast<double>(std::numeric_limits<std::int64_t>::max()), bitrate)
                  .value_or(0)
            : SpaceEstimate::cardCapacity(snapshot.destination->free, bitrate, snapshot.reserveMB)
                  .value_or(0);
    estimate.notFitting = estimate.remaining > capacity ? estimate.remaining - capacity : 0;
    return estimate;
}

bool reviewHasMiddle(const ReviewSnapshot& snapshot) {
    return snapshot.plan != nullptr && snapshot.profile != nullptr;
}

std::vector<ReviewLine> reviewSummary(const ReviewSnapshot& snapshot) {
    std::vector<ReviewLine> lines;
    if (!reviewHasMiddle(snapshot)) return lines;
    const ReviewEstimate estimate = estimateReview(snapshot);
    const std::string size =
        estimate.estimatedBytes ? "約 " + formatByteCount(*estimate.estimatedBytes) : "";
    using Style = ReviewLine::Style;

    std::string first = "選んだ曲: " + number(itemCount(snapshot)) + " 曲";
    if (estimate.carried == 0) {
        if (!size.empty()) first += " / " + size;
    } else {
        first += "（このカードには " + number(estimate.remaining) + " 曲" +
                 (size.empty() ? "" : " / " + size) + "）";
    }
    if (snapshot.plan->duplicates >= 1)
        first += "（同じ曲 " + number(snapshot.plan->duplicates) + " 件はまとめました）";
    lines.push_back({first, Style::headline});

    if (estimate.carried >= 1) {
        lines.push_back({"続きから: 前のカードに入れた " + number(estimate.carried) +
                             " 曲は飛ばし、残りの " + number(estimate.remaining) + " 曲" +
                             (size.empty() ? "" : "（" + size + "）") + "を書き出します",
                         Style::teal});
    }
    if (snapshot.destination != nullptr) {
        std::string line = "SD カード「" + snapshot.destination->name +
                           "」の空き: " + formatByteCount(snapshot.destination->free);
        if (estimate.estimatedBytes) {
            line += estimate.notFitting == 0
                        ? " → 全部入ります"
                        : " → 約 " + number(estimate.notFitting) + " 曲は入りません";
        }
        lines.push_back({line, estimate.notFitting == 0 ? Style::success : Style::warning});
    } else if (!snapshot.destPath.empty()) {
        lines.push_back({"書き出し先: " + snapshot.destPath, Style::path});
    }
    if (snapshot.renamed != nullptr && !snapshot.renamed->empty()) {
        lines.push_back(
            {number(static_cast<std::int64_t>(snapshot.renamed->size())) +
                 " 曲の曲名・アーティスト名の表記を整えます（別バージョンの曲名には変えません）",
             Style::secondary});
    }
    lines.push_back({placeWord(snapshot) + "にすでに入っている曲は消しません。同じ曲は飛ばします。",
                     Style::callout});
    if (estimate.notFitting >= 1) {
        lines.push_back({"入る分だけ書いて止まります。残りは別のカードに続きから入れられます。",
                         Style::callout});
    }
    return lines;
}

std::string songsTabLabel(const ReviewSnapshot& snapshot) {
    return "曲の一覧（" + number(itemCount(snapshot)) + "）";
}

std::string titlesTabLabel(const ReviewSnapshot& snapshot) {
    const auto count = snapshot.renamed != nullptr ? snapshot.renamed->size() : 0;
    return "整える曲名（" + number(static_cast<std::int64_t>(count)) + "）";
}

std::string confirmLabel(const ReviewSnapshot& snapshot) {
    return "この内容で" + placeWord(snapshot) + "に書き出す";
}

bool confirmEnabled(const ReviewSnapshot& snapshot) {
    return itemCount(snapshot) > 0;
}

std::vector<TableHeader> songTableHeaders(const ReviewSnapshot& snapshot) {
    return {
        {"曲名", 3}, {"アーティスト", 2}, {"アルバム", 2}, {placeWord(snapshot) + "内の場所", 3}};
}

std::vector<Cell> songTableRow(const ConversionPlan::Item& item) {
    return {{item.meta.title}, {item.meta.artist}, {item.meta.album}, {item.relativePath, true}};
}

std::vector<TableHeader> titlesTableHeaders() {
    return {{"元の表記", 3}, {"整えた表記", 3}, {"アルバム", 3}};
}

std::vector<Cell> titlesTableRow(const std::pair<TrackMeta, TrackMeta>& change) {
    const auto& [before, after] = change;
    const std::string album = text::equivalent(before.album, after.album)
                                  ? after.album
                                  : before.album + " → " + after.album;
    return {{before.artist + " / " + before.title},
            {after.artist + " / " + after.title, false, true},
            {album}};
}

}  // namespace tarvik
