#include "App/MainWindow/StepExportCard.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "App/Kit/Icons.hpp"
#include "App/Kit/Picker.hpp"
#include "App/Kit/QtText.hpp"
#include "App/Kit/SheetButtons.hpp"
#include "App/Kit/TextStyle.hpp"
#include "App/MainWindow/ExportContent.hpp"
#include "App/MainWindow/ProgressRow.hpp"
#include "App/MainWindow/SummaryView.hpp"
#include "App/Model/AppModel.hpp"

namespace tarvik {

namespace {

QHBoxLayout* bareRow(QWidget* widget) {
    auto* row = new QHBoxLayout(widget);
    row->setContentsMargins(0, 0, 0, 0);
    return row;
}

QPushButton* button(const char* name, const QString& text, QWidget* parent) {
    auto* result = new QPushButton(text, parent);
    result->setObjectName(name);
    return result;
}

}  // namespace

StepExportCard::StepExportCard(AppModel& model, QWidget* parent)
    : StepFrame(model, 3, "書き出す", 10, parent),
      model_(model),
      progress_(new ProgressRow(model, this)),
      summary_(new SummaryView(model, this)) {
    setObjectName("stepExportCard");
    for (QWidget* widget : {buildOptions(), static_cast<QWidget*>(progress_), buildPlanningStop(),
                            buildRunningRow(), static_cast<QWidget*>(summary_), buildFailed()})
        rows()->addWidget(widget);

    for (auto signal :
         {&AppModel::stateChanged, &AppModel::selectedChanged, &AppModel::destPathChanged,
          &AppModel::volumesChanged, &AppModel::srcPathChanged, &AppModel::profileIdChanged,
          &AppModel::profilesChanged, &AppModel::destinationChecked, &AppModel::artistsChanged,
          &AppModel::checkingChanged})
        connect(&model_, signal, this, &StepExportCard::refresh);
    connect(&model_, &AppModel::settingsChanged, this, &StepExportCard::refreshOptions);
    connect(&model_, &AppModel::phaseTextChanged, this, &StepExportCard::refreshProgress);
    connect(&model_, &AppModel::progressChanged, this, &StepExportCard::refreshProgress);
    refresh();
}

QWidget* StepExportCard::buildOptions() {
    options_ = new QWidget(this);
    options_->setObjectName("exportOptions");
    auto* column = new QVBoxLayout(options_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);

    lookup_ = new QCheckBox("曲名の表記を自動で整える（インターネットを使います）", options_);
    lookup_->setObjectName("lookupToggle");
    connect(lookup_, &QCheckBox::toggled, this, [this](bool on) { model_.setLookup(on); });

    normalize_ = new QCheckBox("曲ごとの音量を揃える", options_);
    normalize_->setObjectName("normalizeToggle");
    connect(normalize_, &QCheckBox::toggled, this, [this](bool on) { model_.setNormalize(on); });
    loudness_ = new Picker(options_);
    loudness_->setObjectName("loudnessPicker");
    loudness_->setFixedWidth(130);
    for (const auto& choice : ExportContent::loudnessChoices())
        loudness_->addItem(choice.label, choice.value);
    connect(loudness_, &QComboBox::activated, this,
            [this](int index) { model_.setLoudness(loudness_->itemData(index).toDouble()); });
    auto* loudnessRow = new QHBoxLayout;
    loudnessRow->addWidget(normalize_);
    loudnessRow->addWidget(loudness_);
    loudnessRow->addStretch();

    start_ = button("startButton", "次へ：内容を確認", options_);
    start_->setMinimumWidth(180);
    start_->setMinimumHeight(34);
    TextStyle::setFont(start_, 14, QFont::DemiBold);
    Icons::show(start_, Icons::Symbol::listBulletRectangle, 16, Icons::fixed(Qt::white));
    SheetButtons::makeProminent(start_);
    // A folder may have gone since the button was last enabled: both are
    // asked about anew, and planning starts once they answered.
    connect(start_, &QPushButton::clicked, this, [this] { model_.startWhenChecked(); });
    startHint_ = new QLabel(options_);
    startHint_->setObjectName("startHint");
    TextStyle::setCallout(startHint_);
    TextStyle::setTone(startHint_, TextStyle::Tone::secondary);
    auto* startRow = new QHBoxLayout;
    startRow->addWidget(start_);
    startRow->addWidget(startHint_);
    startRow->addStretch();

    column->addWidget(lookup_);
    column->addLayout(loudnessRow);
    column->addSpacing(4);
    column->addLayout(startRow);
    return options_;
}

QWidget* StepExportCard::buildPlanningStop() {
    planningStop_ = new QWidget(this);
    auto* row = bareRow(planningStop_);
    // The same button as the run's: a flat one reads as plain text.
    auto* stop = button("planningStopButton", "中止", planningStop_);
    Icons::show(stop, Icons::Symbol::stopFill, 14, Icons::color(Palette::Name::danger));
    SheetButtons::makeDestructive(stop);
    connect(stop, &QPushButton::clicked, this, [this] { model_.cancel(); });
    row->addWidget(stop);
    row->addStretch();
    return planningStop_;
}

QWidget* StepExportCard::buildRunningRow() {
    runningRow_ = new QWidget(this);
    auto* row = bareRow(runningRow_);
    auto* stop = button("runningStopButton", "中止", runningRow_);
    Icons::show(stop, Icons::Symbol::stopFill, 14, Icons::color(Palette::Name::danger));
    SheetButtons::makeDestructive(stop);
    connect(stop, &QPushButton::clicked, this, [this] { model_.cancel(); });
    send_ = button("runningSendButton", "SD カードへ送る…", runningRow_);
    Icons::show(send_, Icons::Symbol::sdcard, 14, Icons::tone(TextStyle::Tone::primary));
    send_->setToolTip("書き出し終わったアルバムから、変換を続けたまま SD カードへ送れます");
    connect(send_, &QPushButton::clicked, this, [this] { model_.setShowSend(true); });
    keep_ = new QLabel(runningRow_);
    keep_->setObjectName("keepSentence");
    keep_->setWordWrap(true);
    TextStyle::setCaption(keep_);
    TextStyle::setTone(keep_, TextStyle::Tone::secondary);
    row->addWidget(stop);
    row->addWidget(send_);
    row->addWidget(keep_, 1);
    return runningRow_;
}

QWidget* StepExportCard::buildFailed() {
    failed_ = new QWidget(this);
    auto* column = new QVBoxLayout(failed_);
    column->setContentsMargins(0, 0, 0, 0);
    auto* line = new QHBoxLayout;
    auto* symbol = new QLabel(failed_);
    Icons::show(symbol, Icons::Symbol::exclamationmarkTriangleFill, 14,
                Icons::color(Palette::Name::danger));
    failedText_ = new QLabel(failed_);
    failedText_->setObjectName("failedMessage");
    failedText_->setWordWrap(true);
    failedText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    TextStyle::setColor(failedText_, Palette::Name::danger);
    line->addWidget(symbol, 0, Qt::AlignTop);
    line->addWidget(failedText_, 1);
    auto* back = button("failedBackButton", "戻る", failed_);
    back->setFlat(true);
    connect(back, &QPushButton::clicked, this, [this] { model_.resetRun(); });
    column->addLayout(line);
    column->addWidget(back, 0, Qt::AlignLeft);
    return failed_;
}

void StepExportCard::refresh() {
    const RunState& state = model_.state();
    const bool canExport = model_.canExport();
    const bool busy = model_.isBusy();
    setProgress(canExport && !busy, state.is(RunState::Case::finished), canExport,
                canExport && !busy);

    const ExportContent::Page page = ExportContent::pageFor(state);
    using Page = ExportContent::Page;
    options_->setVisible(page == Page::options);
    progress_->setVisible(page == Page::planning || page == Page::running);
    planningStop_->setVisible(page == Page::planning);
    runningRow_->setVisible(page == Page::running);
    summary_->setVisible(page == Page::finished);
    failed_->setVisible(page == Page::failed);
    // The other steps lock while the model is busy; here only the options
    // do, so that the stop buttons keep working.
    options_->setEnabled(!busy);

    const bool toCard = model_.destinationVolume() != nullptr;
    send_->setVisible(!toCard);
    keep_->setText(qt(ExportContent::keepSentence(toCard)));
    if (page == Page::finished) summary_->showSummary(state.summary, state.toCard);
    failedText_->setText(qt(state.message));
    refreshOptions();
    refreshProgress();
}

void StepExportCard::refreshOptions() {
    const QSignalBlocker blockLookup(lookup_);
    const QSignalBlocker blockNormalize(normalize_);
    lookup_->setChecked(model_.lookup());
    normalize_->setChecked(model_.normalize());
    const auto index = ExportContent::loudnessIndex(model_.loudness());
    loudness_->setCurrentIndex(index ? static_cast<int>(*index) : -1);
    loudness_->setEnabled(model_.normalize());
    const bool canExport = model_.canExport();
    const bool waits = model_.startWaits();
    start_->setEnabled(canExport && !waits);
    startHint_->setText(qt(ExportContent::startHint(waits)));
    startHint_->setVisible(!canExport || waits);
}

void StepExportCard::refreshProgress() {
    const RunState& state = model_.state();
    if (state.is(RunState::Case::planning))
        progress_->showRun(model_.phaseText(), std::nullopt);
    else if (state.is(RunState::Case::running))
        progress_->showRun(model_.phaseText(), model_.progress());
}

}  // namespace tarvik
