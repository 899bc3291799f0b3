#pragma once
// The device-profile editor sheet: edits a private copy of one profile (name,
// notes, quality, cover art, layout, the real-unit check and, behind a
// disclosure, the advanced fields) and reaches the model only when the user
// saves or deletes. A refused or failed save stays open with its reason under
// the form. What it shows and how edits couple comes from ProfileEditorRules;
// this class lays it out and forwards the user's intents. GUI thread only.
//
// Presenting it (the main window):
//   auto* editor = new ProfileEditorView(model, profile, [&] { editor->deleteLater(); }, window);
//   editor->open();
// The sheet hides itself before it calls `close` (after cancel, Escape, the
// title bar, a successful save or delete); `close` may deleteLater() it but
// must not delete it at once.
#include <QDialog>
#include <functional>
#include <optional>
#include <string>

#include "Core/Profiles/DeviceProfile.hpp"

class QCheckBox;
class QComboBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class QVBoxLayout;

namespace tarvik {

class AppModel;
class StepperRow;

class ProfileEditorView : public QDialog {
    Q_OBJECT

public:
    ProfileEditorView(AppModel& model, DeviceProfile profile, std::function<void()> close,
                      QWidget* parent = nullptr);

    const DeviceProfile& profile() const { return profile_; }
    const std::optional<std::string>& error() const { return error_; }
    bool advanced() const { return advanced_; }

public slots:
    // "キャンセル", also Escape: the edits are dropped.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildTitle(QVBoxLayout& root);
    void buildForm(QVBoxLayout& root);
    QWidget* buildVerified(QWidget* parent);
    QWidget* buildAdvanced(QWidget* parent);
    void buildButtons(QVBoxLayout& root);
    void refresh();
    void refreshAdvanced();
    void save();
    void deleteProfile();
    void finish();

    AppModel& model_;
    DeviceProfile profile_;
    std::function<void()> close_;
    bool advanced_ = false;
    std::optional<std::string> error_;
    std::string verifiedNote_;
    bool finishing_ = false;

    QLineEdit* name_ = nullptr;
    QLineEdit* notes_ = nullptr;
    QComboBox* quality_ = nullptr;
    QCheckBox* artwork_ = nullptr;
    QComboBox* layout_ = nullptr;
    QCheckBox* verified_ = nullptr;
    QLineEdit* verifiedNoteField_ = nullptr;
    QToolButton* disclosure_ = nullptr;
    QWidget* advancedSection_ = nullptr;
    QFormLayout* advancedRows_ = nullptr;
    QComboBox* codec_ = nullptr;
    QComboBox* sampleRate_ = nullptr;
    QComboBox* tagFormat_ = nullptr;
    QComboBox* encoding_ = nullptr;
    QCheckBox* id3v1_ = nullptr;
    QLabel* aacNote_ = nullptr;
    QComboBox* artworkSize_ = nullptr;
    QLineEdit* root_ = nullptr;
    StepperRow* nameMax_ = nullptr;
    StepperRow* displayWidth_ = nullptr;
    QCheckBox* asciiOnly_ = nullptr;
    StepperRow* perFolder_ = nullptr;
    QLabel* errorLine_ = nullptr;
};

}  // namespace tarvik
