#pragma once
// The outcome of a finished run in the export step: a symbol and headline
// (stopped, card full, failures, done), the one-line account, the carry-over
// explanation after a full card and the buttons for what comes next (eject or
// send, continue on the next card, back, look at the failures). Reads the
// model's volumes, destination and title corrections; its buttons call the
// model. Owned by the export step; GUI thread only.
//
// Use:  auto* summary = new SummaryView(model, parent);
//       summary->showSummary(state.summary, state.toCard);
#include <QWidget>

#include "Core/Pipeline/ConversionEvent.hpp"

class QLabel;
class QPushButton;

namespace tarvik {

class AppModel;

class SummaryView : public QWidget {
    Q_OBJECT

public:
    explicit SummaryView(AppModel& model, QWidget* parent = nullptr);

    // `toCard`: the run wrote onto a listed card (RunState::toCard).
    void showSummary(const ConversionEvent::Summary& summary, bool toCard);

private:
    QPushButton* button(const char* name, const QString& text);

    AppModel& model_;
    ConversionEvent::Summary summary_;
    bool toCard_ = false;
    QLabel* symbol_;
    QLabel* headline_;
    QLabel* detail_;
    QLabel* carryOver_;
    QPushButton* eject_;
    QPushButton* send_;
    QPushButton* continueNext_;
    QPushButton* back_;
    QPushButton* failures_;
};

}  // namespace tarvik
