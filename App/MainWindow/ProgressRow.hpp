#pragma once
// Where planning or a run stands: the application's progress bar with the
// tracks dealt with out of the total, the minutes left and the failures; or,
// before there are counts, a busy bar (still in low-load display mode) with
// the phase text. Shows what it is given; keeps no state.
// Owned by the export step; GUI thread only.
//
// Use:  auto* row = new ProgressRow(model, parent);
//       row->showRun(model.phaseText(), model.progress());   // planning: std::nullopt
#include <QWidget>
#include <optional>
#include <string>

#include "Core/Pipeline/ConversionEvent.hpp"

class QLabel;

namespace tarvik {

class AppModel;
class BusyBar;
class FunProgressBar;

class ProgressRow : public QWidget {
    Q_OBJECT

public:
    explicit ProgressRow(AppModel& model, QWidget* parent = nullptr);

    void showRun(const std::string& phaseText,
                 const std::optional<ConversionEvent::Progress>& progress);

private:
    AppModel& model_;
    FunProgressBar* bar_;
    BusyBar* waiting_;
    QLabel* phase_;
    QLabel* count_;
    QLabel* eta_;
    QLabel* failed_;
};

}  // namespace tarvik
