#pragma once
// The collapsible log panel at the foot of the main window: the run log of the
// model, one selectable monospaced row per line coloured by its kind, a filter
// (all, title corrections, failures), and scrolling to the newest row except in
// low-load display mode. It follows the model's logAppended / logTrimmed /
// logCleared and touches only the rows concerned, so a run appending fast
// into a log of 5,000 lines stays cheap. Its expansion is the model's
// showLog; its filter starts at "すべて" each time the panel appears. Owned by the main window; GUI thread only.
#include <QString>
#include <QWidget>
#include <deque>

class QButtonGroup;
class QPlainTextEdit;
class QTimer;
class QToolButton;

namespace tarvik {

class AppModel;
struct LogLine;

class LogSection : public QWidget {
    Q_OBJECT

public:
    explicit LogSection(AppModel& model, QWidget* parent = nullptr);

    int filter() const { return filter_; }
    void setFilter(int filter);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void rebuild();
    void appendRow(const LogLine& line);
    void appendLines(qsizetype count);
    void trimLines(qsizetype count);
    void clearLines();
    void holdDrawing();
    void applyExpansion();
    QString newestShownId() const;
    // Scrolls to the newest row when it is a line not followed before.
    void follow(const QString& newestId);

    AppModel& model_;
    int filter_ = 0;
    QToolButton* arrow_;
    QToolButton* disclosure_;
    QWidget* content_;
    QButtonGroup* filters_;
    QPlainTextEdit* box_;
    QTimer* frame_;
    // One entry per line of the model's log, in order: shown under the filter.
    std::deque<bool> shown_;
    qsizetype rows_ = 0;
    QString newestId_;
};

}  // namespace tarvik
