#pragma once
// The review sheet: the last stop before an export writes anything. It shows
// the plan's summary and fit estimate, the song list and the titles to tidy,
// and ends in "やめる" (back to idle) or the confirm button (the export starts).
// Everything is computed anew from the model whenever what it shows changes;
// the sheet keeps only which tab is open. The main window opens it while the
// run is reviewing; it hides itself when the run leaves that state, and the
// title bar cannot close it. GUI thread only.
#include <QDialog>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace tarvik {

class AppModel;
class StripedTable;
struct ReviewSnapshot;

class ReviewView : public QDialog {
    Q_OBJECT

public:
    explicit ReviewView(AppModel& model, QWidget* parent = nullptr);

    int tab() const { return tab_; }

public slots:
    // "やめる", also the Escape key.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildTitle(QVBoxLayout& root);
    void buildMiddle(QVBoxLayout& root);
    void buildFooter(QVBoxLayout& root);
    void scheduleRefresh();
    void refresh();
    void refreshSummary(const ReviewSnapshot& snapshot);
    void refreshTable(const ReviewSnapshot& snapshot);
    void followState();

    AppModel& model_;
    int tab_ = 0;
    bool refreshQueued_ = false;

    QWidget* middle_ = nullptr;
    QVBoxLayout* summaryLines_ = nullptr;
    QButtonGroup* tabs_ = nullptr;
    QPushButton* songsTab_ = nullptr;
    QPushButton* titlesTab_ = nullptr;
    StripedTable* table_ = nullptr;
    QCheckBox* skipReview_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* confirm_ = nullptr;
};

}  // namespace tarvik
