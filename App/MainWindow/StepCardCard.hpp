#pragma once
// Step 2 of the main window: where the export goes (a listed volume or any
// folder, with the song estimate and the warning about an artist folder) and
// for which unit (the device profile, its summary and notes). Choosing writes
// the model's settings; the profile editor is asked for through
// `editRequested`, which the main window answers by opening its editor sheet.
// Keeps no state; disabled while the model is busy. GUI thread only.
#include "App/MainWindow/StepFrame.hpp"
#include "Core/Profiles/DeviceProfile.hpp"

class QComboBox;
class QLabel;
class QPushButton;

namespace tarvik {

class AppModel;

class StepCardCard : public StepFrame {
    Q_OBJECT

public:
    explicit StepCardCard(AppModel& model, QWidget* parent = nullptr);

    void chooseDestinationFolder();
    void newProfileFromSelected();
    void editProfile();

signals:
    // Open the profile editor on `profile` (an empty id: a new profile).
    void editRequested(const tarvik::DeviceProfile& profile);

private:
    QWidget* buildDestinationRow();
    QWidget* buildWarningRow();
    QWidget* buildProfileRow();
    void refresh();
    void refreshDestinations();
    void refreshProfiles();

    AppModel& model_;
    QWidget* insertHint_ = nullptr;
    QComboBox* destinations_ = nullptr;
    QPushButton* sendButton_ = nullptr;
    QWidget* warning_ = nullptr;
    QLabel* refusal_;  // why no run may write to the chosen destination
    QLabel* capacity_;
    QComboBox* profiles_ = nullptr;
    QPushButton* editButton_ = nullptr;
    QLabel* summary_;
    QLabel* notes_;
};

}  // namespace tarvik
