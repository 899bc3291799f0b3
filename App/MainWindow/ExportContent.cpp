#include "App/MainWindow/ExportContent.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "Core/Pipeline/ConversionRunner.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/SDCard/AlbumFolders.hpp"

namespace tarvik::ExportContent {

namespace {

std::string number(std::int64_t value) {
    return std::to_string(value);
}

// What stopped the run, in the words of the failure it reported.
std::string haltHeadline(ConversionEvent::Halt halt, bool toCard) {
    switch (halt) {
        case ConversionEvent::Halt::destinationReadOnly:
            return fileSystemMessage("書き込めません: ", destinationWord(toCard), EROFS);
        case ConversionEvent::Halt::destinationLink: {
            // The log names the link; the headline says what it is.
            std::string_view words = SDCardTools::folderIsLinkMessage;
            return std::string(words.substr(0, words.find(':')));
        }
        case ConversionEvent::Halt::musicFolderLost:
            return std::string(ConversionRunner::musicFolderLostMessage);
        case ConversionEvent::Halt::destinationLost:
        case ConversionEvent::Halt::none:
            break;
    }
    return std::string(ConversionRunner::destinationLostMessage);
}

}  // namespace

Page pageFor(const RunState& state) {
    switch (state.kind) {
        case RunState::Case::planning:
            return Page::planning;
        case RunState::Case::running:
            return Page::running;
        case RunState::Case::finished:
            return Page::finished;
        case RunState::Case::failed:
            return Page::failed;
        case RunState::Case::idle:
        case RunState::Case::reviewing:
            break;
    }
    return Page::options;
}

std::string destinationWord(bool toCard) {
    return toCard ? "SD カード" : "書き出し先のフォルダ";
}

std::string keepSentence(bool toCard) {
    return "中止しても、ここまでの曲は" + destinationWord(toCard) +
           "に残ります。次回は続きから始めます。";
}

std::string startHint(bool checking) {
    return checking ? "確認しています…" : "上の ① ② を先に済ませてください";
}

const std::vector<LoudnessChoice>& loudnessChoices() {
    static const std::vector<LoudnessChoice> choices{
        {"標準", -14.0}, {"少し小さめ", -16.0}, {"小さめ", -18.0}};
    return choices;
}

std::optional<std::size_t> loudnessIndex(double loudness) {
    const auto& choices = loudnessChoices();
    for (std::size_t i = 0; i < choices.size(); ++i)
        if (std::abs(choices[i].value - loudness) < 1e-9) return i;
    return std::nullopt;
}

std::int64_t etaMinutes(std::int64_t seconds) {
    return std::max<std::int64_t>(1, seconds / 60);
}

ProgressTexts progressTexts(const std::string& phaseText,
                            const std::optional<ConversionEvent::Progress>& progress) {
    ProgressTexts texts;
    if (!progress) {
        texts.accessibleLabel = phaseText;
        return texts;
    }
    const std::int64_t dealt = progress->done + progress->skipped + progress->failed;
    texts.accessibleLabel =
        phaseText + " " + number(progress->total) + " 曲中 " + number(dealt) + " 曲";
    if (progress->total <= 0) return texts;
    texts.determinate = true;
    texts.fraction = static_cast<double>(dealt) / static_cast<double>(progress->total);
    texts.count = number(dealt) + " / " + number(progress->total) + " 曲";
    if (progress->etaSeconds)
        texts.eta = "あと約 " + number(etaMinutes(*progress->etaSeconds)) + " 分";
    if (progress->failed >= 1) texts.failed = "失敗 " + number(progress->failed) + " 曲";
    return texts;
}

SummaryTexts summaryTexts(const ConversionEvent::Summary& summary, bool toCard, bool cardThere,
                          std::size_t renamedCount) {
    using Halt = ConversionEvent::Halt;
    ConversionEvent::Progress progress = summary.progress;
    SummaryTexts texts;
    progress.failed = summary.songsFailed();
    if (summary.halt != Halt::none) {
        texts.outcome = Outcome::halted;
        texts.headline = haltHeadline(summary.halt, toCard);
    } else if (summary.stopped) {
        texts.outcome = Outcome::stopped;
        texts.headline = "中止しました";
    } else if (summary.cardFull) {
        texts.outcome = Outcome::cardFull;
        texts.headline = destinationWord(toCard) + "がいっぱいになりました";
    } else if (progress.done == 0 && progress.failed >= 1) {
        texts.outcome = Outcome::nothingWritten;
        texts.headline = "書き出せませんでした";
    } else {
        texts.outcome = progress.failed >= 1 ? Outcome::failures : Outcome::complete;
        texts.headline = "できあがり！ 車で聴けます";
    }
    texts.detail = number(progress.done) + " 曲を書き出しました";
    if (progress.skipped >= 1)
        texts.detail += "、" + number(progress.skipped) + " 曲は前回の分を使いました";
    if (progress.failed >= 1)
        texts.detail += "、" + number(progress.failed) + " 曲は変換できませんでした";
    if (renamedCount > 0)
        texts.detail +=
            "、" + number(static_cast<std::int64_t>(renamedCount)) + " 曲の曲名を整えました";
    // A stopped run that had filled the card may still carry on with another.
    texts.carryOverNote = summary.cardFull;
    texts.continueNext = summary.cardFull;
    texts.eject = toCard && cardThere;
    texts.send = !toCard && summary.halt != Halt::destinationLost;
    texts.showFailures = progress.failed >= 1;
    return texts;
}

}  // namespace tarvik::ExportContent
