#pragma once
// Step 3 of the main window: the export options and the start button before a
// run, the progress row with a stop button while planning or converting, the
// summary once a run has finished and the message when planning failed. The
// content follows the model's run state; the options are the model's settings
// and every button calls the model. Unlike the other steps it stays usable
// while the model is busy, so that a run can be stopped; only its options and
// start button lock. Keeps no state; owned by the main window; GUI thread only.
#include "App/MainWindow/StepFrame.hpp"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace tarvik {

class AppModel;
class ProgressRow;
class SummaryView;

class StepExportCard : public StepFrame {
    Q_OBJECT

public:
    explicit StepExportCard(AppModel& model, QWidget* parent = nullptr);

private:
    QWidget* buildOptions();
    QWidget* buildPlanningStop();
    QWidget* buildRunningRow();
    QWidget* buildFailed();
    void refresh();
    void refreshOptions();
    void refreshProgress();

    AppModel& model_;
    QWidget* options_ = nullptr;
    QCheckBox* lookup_ = nullptr;
    QCheckBox* normalize_ = nullptr;
    QComboBox* loudness_ = nullptr;
    QPushButton* start_ = nullptr;
    QLabel* startHint_ = nullptr;
    ProgressRow* progress_;
    QWidget* planningStop_ = nullptr;
    QWidget* runningRow_ = nullptr;
    QPushButton* send_ = nullptr;
    QLabel* keep_ = nullptr;
    SummaryView* summary_;
    QWidget* failed_ = nullptr;
    QLabel* failedText_ = nullptr;
};

}  // namespace tarvik
