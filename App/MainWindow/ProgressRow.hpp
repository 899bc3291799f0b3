#pragma once
// Where planning or a run stands: the application's progress bar with the
// tracks dealt with out of the total, the minutes left and the failures; or,
// before there are counts, a bar that runs indeterminately (still in low-load
// display mode) with the phase text. Shows what it is given; keeps no state.
// Owned by the export step; GUI thread only.
//
// Use:  auto* row = new ProgressRow(model, parent);
//       row->showRun(model.phaseText(), model.progress());   // planning: std::nullopt
#include <QWidget>
#include <optional>
#include <string>

#include "Core/Pipeline/ConversionEvent.hpp"

class QLabel;
class QProgressBar;

namespace tarvik {

class AppModel;
class FunProgressBar;

class ProgressRow : public QWidget {
    Q_OBJECT

public:
    explicit ProgressRow(AppModel& model, QWidget* parent = nullptr);

    void showRun(const std::string& phaseText,
                 const std::optional<ConversionEvent::Progress>& progress);

private:
    void showIndeterminate();

    AppModel& model_;
    bool determinate_ = false;
    FunProgressBar* bar_;
    QProgressBar* waiting_;
    QLabel* phase_;
    QLabel* count_;
    QLabel* eta_;
    QLabel* failed_;
};

}  // namespace tarvik
