#pragma once
// Step 1 of the main window: the music folder in use, the button that chooses
// another one (through Dialogs, then AppModel::chooseSource), what to do next
// or how much is selected, and the model's notice about an adjusted folder.
// Keeps no state; redrawn from the model. Disabled while the model is busy.
// Owned by the main window; GUI thread only.
#include "App/MainWindow/StepFrame.hpp"

class QLabel;
class QPushButton;

namespace tarvik {

class AppModel;
class ElidedLabel;

class StepMusicCard : public StepFrame {
    Q_OBJECT

public:
    explicit StepMusicCard(AppModel& model, QWidget* parent = nullptr);

    void chooseMusicFolder();

private:
    void refresh();

    AppModel& model_;
    ElidedLabel* path_;
    QPushButton* button_;
    QLabel* status_;
    QWidget* notice_;
    QLabel* noticeText_;
};

}  // namespace tarvik
