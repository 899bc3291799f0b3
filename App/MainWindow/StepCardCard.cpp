#include "App/MainWindow/StepCardCard.hpp"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>
#include <filesystem>

#include "App/Kit/FolderChooser.hpp"
#include "App/Kit/Icons.hpp"
#include "App/Kit/QtText.hpp"
#include "App/MainWindow/StepContent.hpp"
#include "App/Kit/TextStyle.hpp"
#include "App/Model/AppModel.hpp"
#include "App/Kit/Picker.hpp"
#include "App/Kit/SheetButtons.hpp"
#include "Core/Pipeline/RunOptions.hpp"

namespace tarvik {

namespace {

QHBoxLayout* bareRow(QWidget* widget) {
    auto* row = new QHBoxLayout(widget);
    row->setContentsMargins(0, 0, 0, 0);
    return row;
}

}  // namespace

StepCardCard::StepCardCard(AppModel& model, QWidget* parent)
    : StepFrame(model, 2, "SD カードとカーナビの機種を選ぶ", 10, parent),
      model_(model),
      refusal_(new QLabel(this)),
      capacity_(new QLabel(this)),
      summary_(new QLabel(this)),
      notes_(new QLabel(this)) {
    setObjectName("stepCardCard");

    refusal_->setObjectName("destinationRefusal");
    refusal_->setWordWrap(true);
    TextStyle::setCallout(refusal_);
    TextStyle::setColor(refusal_, Palette::Name::warning);
    capacity_->setObjectName("capacityEstimate");
    TextStyle::setCallout(capacity_);
    TextStyle::setTone(capacity_, TextStyle::Tone::secondary);
    summary_->setObjectName("profileSummary");
    notes_->setObjectName("profileNotes");
    for (QLabel* label : {summary_, notes_}) {
        label->setWordWrap(true);
        TextStyle::setCaption(label);
        TextStyle::setTone(label, TextStyle::Tone::secondary);
    }
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setStyleSheet("color: rgba(128,128,128,70);");

    const std::initializer_list<QWidget*> widgets{
        buildDestinationRow(), refusal_, buildWarningRow(), capacity_, divider,
        buildProfileRow(),     summary_,  notes_};
    for (QWidget* widget : widgets) rows()->addWidget(widget);

    for (auto signal :
         {&AppModel::destPathChanged, &AppModel::profileIdChanged, &AppModel::volumesChanged,
          &AppModel::profilesChanged, &AppModel::selectedChanged, &AppModel::srcPathChanged,
          &AppModel::artistsChanged, &AppModel::stateChanged, &AppModel::destinationChecked})
        connect(&model_, signal, this, &StepCardCard::refresh);
    refresh();
}

QWidget* StepCardCard::buildDestinationRow() {
    auto* widget = new QWidget(this);
    auto* row = bareRow(widget);
    row->addWidget(TextStyle::secondaryLabel("SD カード:", widget));

    insertHint_ = new QWidget(widget);
    insertHint_->setObjectName("insertCardHint");
    auto* hintRow = bareRow(insertHint_);
    auto* hintIcon = new QLabel(insertHint_);
    Icons::show(hintIcon, Icons::Symbol::sdcard, 14, Icons::tone(TextStyle::Tone::secondary));
    hintRow->addWidget(hintIcon);
    hintRow->addWidget(TextStyle::secondaryLabel("SD カードを差し込んでください", insertHint_));

    auto* destinations = new Picker(widget);
    destinations->setElideMode(Qt::ElideMiddle);  // a folder's path: its start and its name
    destinations_ = destinations;
    destinations_->setObjectName("destinationPicker");
    destinations_->setMaximumWidth(420);
    destinations_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    destinations_->setMinimumContentsLength(12);
    connect(destinations_, &QComboBox::activated, this, [this](int index) {
        model_.setDestPath(destinations_->itemData(index).toString().toStdString());
    });

    auto* other = SheetButtons::small("ほかの場所…", "otherFolderButton", widget);
    connect(other, &QPushButton::clicked, this, &StepCardCard::chooseDestinationFolder);
    auto* reload = new QToolButton(widget);
    reload->setObjectName("refreshVolumesButton");
    reload->setToolTip("挿し直したときに読み直す");
    reload->setAccessibleName("挿し直したときに読み直す");
    Icons::show(reload, Icons::Symbol::arrowClockwise, 14, Icons::tone(TextStyle::Tone::primary));
    connect(reload, &QToolButton::clicked, this, [this] { model_.refreshVolumes(); });
    sendButton_ = SheetButtons::small("SD カードへ送る…", "sendToCardButton", widget);
    connect(sendButton_, &QPushButton::clicked, this, [this] { model_.setShowSend(true); });

    row->addWidget(insertHint_);
    row->addWidget(destinations_, 1);
    row->addWidget(other);
    row->addWidget(reload);
    row->addWidget(sendButton_);
    row->addStretch();
    return widget;
}

QWidget* StepCardCard::buildWarningRow() {
    warning_ = new QWidget(this);
    warning_->setObjectName("artistFolderWarning");
    auto* row = bareRow(warning_);
    row->setSpacing(8);
    auto* icon = new QLabel(warning_);
    Icons::show(icon, Icons::Symbol::exclamationmarkTriangleFill, 14,
                Icons::color(Palette::Name::warning));
    auto* text = new QLabel(
        "書き出し先がアーティスト名のフォルダです。この中にさらにアーティストのフォルダができ、カー"
        "ナビで「音楽データがありません」になります。",
        warning_);
    text->setWordWrap(true);
    TextStyle::setCallout(text);
    TextStyle::setColor(text, Palette::Name::warning);
    auto* up = SheetButtons::small("1 つ上のフォルダにする", "parentFolderButton", warning_);
    connect(up, &QPushButton::clicked, this,
            [this] { model_.setDestPath(StepContent::parentFolder(model_.destPath())); });
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(text, 1);
    row->addWidget(up);
    return warning_;
}

QWidget* StepCardCard::buildProfileRow() {
    auto* widget = new QWidget(this);
    auto* row = bareRow(widget);
    row->addWidget(TextStyle::secondaryLabel("カーナビの機種:", widget));
    profiles_ = new Picker(widget);
    profiles_->setObjectName("profilePicker");
    profiles_->setMaximumWidth(520);
    profiles_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    profiles_->setMinimumContentsLength(14);
    connect(profiles_, &QComboBox::activated, this, [this](int index) {
        model_.setProfileId(profiles_->itemData(index).toString().toStdString());
    });
    auto* create = SheetButtons::small("この機種をもとに新しく作る…", "newProfileButton", widget);
    connect(create, &QPushButton::clicked, this, &StepCardCard::newProfileFromSelected);
    editButton_ = SheetButtons::small("編集…", "editProfileButton", widget);
    connect(editButton_, &QPushButton::clicked, this, &StepCardCard::editProfile);
    row->addWidget(profiles_, 1);
    row->addWidget(create);
    row->addWidget(editButton_);
    row->addStretch();
    return widget;
}

void StepCardCard::refresh() {
    const bool hasSelection = model_.hasSelection();
    const bool canExport = model_.canExport();
    const bool here = hasSelection && !canExport;
    setProgress(here, canExport, here, here);
    refreshDestinations();
    refreshProfiles();
    // Only a destination that was chosen has a cause to name.
    const std::optional<std::string> refusal =
        model_.destPath().empty() ? std::nullopt : model_.destinationRefusal();
    refusal_->setVisible(refusal.has_value());
    refusal_->setText(refusal ? qt(*refusal) : QString());
    warning_->setVisible(model_.destinationLooksLikeArtistFolder());
    const auto capacity = StepContent::capacityText(
        model_.destinationVolume(), model_.selectedProfile(), RunOptions().reserveMB);
    capacity_->setVisible(capacity.has_value());
    capacity_->setText(capacity ? qt(*capacity) : QString());
    setEnabled(!model_.isBusy());
}

void StepCardCard::refreshDestinations() {
    const std::string dest = model_.destPath();
    const Volume* destination = model_.destinationVolume();
    const bool hint = StepContent::showsInsertHint(model_.volumes(), dest);
    insertHint_->setVisible(hint);
    destinations_->setVisible(!hint);
    sendButton_->setVisible(StepContent::isPlainFolder(dest, destination));
    const QSignalBlocker blocker(destinations_);
    destinations_->clear();
    for (const auto& entry : StepContent::destinationEntries(model_.volumes(), dest, destination))
        destinations_->addItem(qt(entry.text), qt(entry.tag));
    const QString current = destination != nullptr ? qt(destination->url.string()) : qt(dest);
    destinations_->setCurrentIndex(std::max(0, destinations_->findData(current)));
}

void StepCardCard::refreshProfiles() {
    const DeviceProfile* selected = model_.selectedProfile();
    {
        const QSignalBlocker blocker(profiles_);
        profiles_->clear();
        for (const DeviceProfile& profile : model_.profiles())
            profiles_->addItem(qt(StepContent::profileItemLabel(profile)), qt(profile.id));
        profiles_->setCurrentIndex(selected != nullptr ? profiles_->findData(qt(selected->id))
                                                       : -1);
    }
    editButton_->setVisible(selected != nullptr && !selected->isBuiltin);
    summary_->setVisible(selected != nullptr);
    summary_->setText(selected != nullptr ? qt(StepContent::profileSummary(*selected)) : QString());
    notes_->setVisible(selected != nullptr && !selected->notes.empty());
    notes_->setText(selected != nullptr ? qt(selected->notes) : QString());
}

void StepCardCard::chooseDestinationFolder() {
    FolderChooser::open(
        this, model_,
        {.message = "書き出し先のフォルダを選んでください（ふつうは SD カードそのもの）",
         .start = model_.mediaFolder(),
         .canCreateFolders = true},
        [this](const std::filesystem::path& folder) { model_.setDestPath(folder.string()); });
}

void StepCardCard::newProfileFromSelected() {
    if (const DeviceProfile* selected = model_.selectedProfile())
        emit editRequested(StepContent::newProfileFrom(*selected));
}

void StepCardCard::editProfile() {
    if (const DeviceProfile* selected = model_.selectedProfile()) emit editRequested(*selected);
}

}  // namespace tarvik
