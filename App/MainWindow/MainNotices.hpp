#pragma once
// The two notices of the main window's detail column, on a pale accent panel
// with rounded corners: the clean notice (what the automatic card cleaning
// did, closed by its ×) and the carry-over banner (an export going on onto a
// further card, with "やめて最初から"). Each shows and hides itself as the
// model changes; both are owned by the column. GUI thread only.
#include <QFrame>

class QLabel;

namespace tarvik {

class AppModel;

// The shared panel: accentSoft, corner radius 12, content 12 points inside.
class NoticeFrame : public QFrame {
    Q_OBJECT

public:
    explicit NoticeFrame(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

class CleanNotice : public NoticeFrame {
    Q_OBJECT

public:
    explicit CleanNotice(AppModel& model, QWidget* parent = nullptr);

private:
    void refresh();

    AppModel& model_;
    QLabel* text_;
};

class CarryOverBanner : public NoticeFrame {
    Q_OBJECT

public:
    explicit CarryOverBanner(AppModel& model, QWidget* parent = nullptr);

private:
    void refresh();

    AppModel& model_;
    QLabel* text_;
};

}  // namespace tarvik
