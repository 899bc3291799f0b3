#include "App/MainWindow/StepMusicCard.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "App/Kit/ElidedLabel.hpp"
#include "App/Kit/FolderChooser.hpp"
#include "App/Kit/Icons.hpp"
#include "App/Kit/QtText.hpp"
#include "App/Kit/TextStyle.hpp"
#include "App/MainWindow/StepContent.hpp"
#include "App/Model/AppModel.hpp"

namespace tarvik {

StepMusicCard::StepMusicCard(AppModel& model, QWidget* parent)
    : StepFrame(model, 1, "音楽を選ぶ", 8, parent),
      model_(model),
      path_(new ElidedLabel(this)),
      button_(new QPushButton(this)),
      status_(new QLabel(this)),
      notice_(new QWidget(this)),
      noticeText_(new QLabel(notice_)) {
    setObjectName("stepMusicCard");
    auto* folderRow = new QHBoxLayout;
    auto* folderLabel = new QLabel("音楽のフォルダ:", this);
    TextStyle::setTone(folderLabel, TextStyle::Tone::secondary);
    path_->setObjectName("musicFolderPath");
    button_->setObjectName("musicFolderButton");
    folderRow->addWidget(folderLabel);
    folderRow->addWidget(path_, 1);
    folderRow->addWidget(button_);
    connect(button_, &QPushButton::clicked, this, &StepMusicCard::chooseMusicFolder);

    status_->setObjectName("musicStatus");
    status_->setWordWrap(true);
    TextStyle::setCallout(status_);

    notice_->setObjectName("sourceNotice");
    auto* noticeRow = new QHBoxLayout(notice_);
    noticeRow->setContentsMargins(0, 0, 0, 0);
    auto* noticeIcon = new QLabel(notice_);
    Icons::show(noticeIcon, Icons::Symbol::infoCircle, 14, Icons::tone(TextStyle::Tone::secondary));
    noticeText_->setWordWrap(true);
    TextStyle::setCallout(noticeText_);
    TextStyle::setTone(noticeText_, TextStyle::Tone::secondary);
    noticeRow->addWidget(noticeIcon, 0, Qt::AlignTop);
    noticeRow->addWidget(noticeText_, 1);

    rows()->addLayout(folderRow);
    rows()->addWidget(status_);
    rows()->addWidget(notice_);

    for (auto signal :
         {&AppModel::srcPathChanged, &AppModel::selectedChanged, &AppModel::sourceNoticeChanged,
          &AppModel::stateChanged, &AppModel::artistsChanged, &AppModel::checkingChanged})
        connect(&model_, signal, this, &StepMusicCard::refresh);
    refresh();
}

void StepMusicCard::refresh() {
    const std::string src = model_.srcPath();
    const bool hasSelection = model_.hasSelection();
    setProgress(!hasSelection, hasSelection, !hasSelection, !hasSelection);

    path_->setText(src.empty() ? "未選択" : qt(src));
    TextStyle::setTone(path_, src.empty() ? TextStyle::Tone::secondary : TextStyle::Tone::primary);
    button_->setText(qt(StepContent::folderButtonText(src)));

    const StepContent::Status status = StepContent::musicStatus(
        src, model_.selected(), model_.musicFolderMissing(), model_.musicFolderChecking());
    status_->setText(qt(status.text));
    if (status.success)
        TextStyle::setColor(status_, Palette::Name::success);
    else if (status.warning)
        TextStyle::setColor(status_, Palette::Name::warning);
    else
        TextStyle::setTone(status_, TextStyle::Tone::secondary);

    const auto& notice = model_.sourceNotice();
    notice_->setVisible(notice.has_value());
    noticeText_->setText(notice ? qt(*notice) : QString());
    setEnabled(!model_.isBusy());
}

void StepMusicCard::chooseMusicFolder() {
    FolderChooser::open(
        this, model_,
        {.message = "音楽のフォルダ（アーティストのフォルダが並んでいるところ）を選んでください。"
                    "アーティストやアルバムのフォルダを選ぶと、それだけを書き出します",
         .start = model_.srcPath()},
        [this](const std::filesystem::path& folder) { model_.chooseSource(folder); });
}

}  // namespace tarvik
