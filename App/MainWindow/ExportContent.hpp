#pragma once
// What the export step, its progress row and the run's summary show, as plain
// functions of the model's values: which content a run state gets, the
// card-or-folder wording, the loudness choices, the progress row's texts and
// the summary's headline, detail line and buttons. No widgets here; the views
// lay these out and the tests check them without a window. Pure; never fail.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "App/Model/RunState.hpp"
#include "Core/Pipeline/ConversionEvent.hpp"

namespace tarvik::ExportContent {

// Export step. The review sheet lies over the window while reviewing, so the
// card behind it keeps the options.
enum class Page { options, planning, running, finished, failed };
Page pageFor(const RunState& state);

// "SD カード" when the export goes onto a listed card, else "書き出し先のフォルダ".
std::string destinationWord(bool toCard);
std::string keepSentence(bool toCard);
// Beside the start button while it can't be pressed: the folders are being
// asked about after a press (`checking`), or the steps above are not done.
std::string startHint(bool checking);

struct LoudnessChoice {
    const char* label;
    double value;
};
const std::vector<LoudnessChoice>& loudnessChoices();
// The choice whose value is `loudness`; absent for a value set elsewhere.
std::optional<std::size_t> loudnessIndex(double loudness);

// Progress row. Without a progress (planning) or with a total of 0 the bar
// runs indeterminately and no counts are shown.
struct ProgressTexts {
    bool determinate = false;
    double fraction = 0;                // dealt with / total
    std::string count;                  // "15 / 20 曲"
    std::optional<std::string> eta;     // "あと約 2 分"
    std::optional<std::string> failed;  // "失敗 3 曲"
    std::string accessibleLabel;
};
ProgressTexts progressTexts(const std::string& phaseText,
                            const std::optional<ConversionEvent::Progress>& progress);
// Whole minutes left, never less than 1.
std::int64_t etaMinutes(std::int64_t seconds);

// Summary of a finished run. `halted`: the run stopped by itself (its card or
// music folder went away, its card turned read-only); `nothingWritten`: no
// song was written and songs failed, which is never "できあがり".
enum class Outcome { halted, stopped, cardFull, nothingWritten, failures, complete };
struct SummaryTexts {
    Outcome outcome = Outcome::complete;
    std::string headline;
    std::string detail;
    bool carryOverNote = false;  // the explanation of carrying on with another card
    bool eject = false;          // "SD カードを取り出す"
    bool send = false;           // "SD カードへ送る…"
    bool continueNext = false;   // "続けて別のカードに入れる"
    bool showFailures = false;   // "失敗した曲を見る"
};
// `toCard`: the run wrote onto a listed card, as fixed when it ended;
// `cardThere`: that card is still the destination, so it can be ejected.
SummaryTexts summaryTexts(const ConversionEvent::Summary& summary, bool toCard, bool cardThere,
                          std::size_t renamedCount);

inline constexpr const char* carryOverText =
    "「続けて別のカードに入れる」を押すと、このカードに入れた曲を覚えておき、次のカードには残りだけ"
    "を書き出します。"
    "途中までしか入らなかったアルバムは、次のカードにまとめて入ります。";

}  // namespace tarvik::ExportContent
