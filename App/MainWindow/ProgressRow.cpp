#include "App/MainWindow/ProgressRow.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "App/MainWindow/BusyBar.hpp"
#include "App/MainWindow/ExportContent.hpp"
#include "App/Kit/FunProgressBar.hpp"
#include "App/Kit/QtText.hpp"
#include "App/Kit/TextStyle.hpp"
#include "App/Model/AppModel.hpp"

namespace tarvik {

namespace {

QLabel* label(const char* name, QWidget* parent) {
    auto* result = new QLabel(parent);
    result->setObjectName(name);
    return result;
}

}  // namespace

ProgressRow::ProgressRow(AppModel& model, QWidget* parent)
    : QWidget(parent),
      model_(model),
      bar_(new FunProgressBar(model, this)),
      waiting_(new BusyBar(model, Palette::Name::accent, this)),
      phase_(label("progressPhase", this)),
      count_(label("progressCount", this)),
      eta_(label("progressEta", this)),
      failed_(label("progressFailed", this)) {
    setObjectName("progressRow");
    bar_->setObjectName("progressBar");
    waiting_->setObjectName("progressWaiting");

    TextStyle::setFont(phase_, 15);
    phase_->setWordWrap(true);
    TextStyle::setFont(count_, 15, QFont::Bold);
    TextStyle::setColor(count_, Palette::Name::accentText);
    TextStyle::setTone(eta_, TextStyle::Tone::secondary);
    TextStyle::setCaption(failed_);
    TextStyle::setColor(failed_, Palette::Name::danger);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    auto* line = new QHBoxLayout;
    line->setSpacing(8);
    line->addWidget(phase_, 1);
    line->addWidget(count_);
    line->addWidget(eta_);
    column->addWidget(bar_);
    column->addWidget(waiting_);
    column->addLayout(line);
    column->addWidget(failed_);

    showRun(std::string(), std::nullopt);
}

void ProgressRow::showRun(const std::string& phaseText,
                          const std::optional<ConversionEvent::Progress>& progress) {
    const ExportContent::ProgressTexts texts = ExportContent::progressTexts(phaseText, progress);
    phase_->setText(qt(phaseText));
    setAccessibleName(qt(texts.accessibleLabel));
    bar_->setVisible(texts.determinate);
    waiting_->setVisible(!texts.determinate);
    count_->setVisible(texts.determinate);
    count_->setText(qt(texts.count));
    eta_->setVisible(texts.eta.has_value());
    eta_->setText(qt(texts.eta.value_or("")));
    failed_->setVisible(texts.failed.has_value());
    failed_->setText(qt(texts.failed.value_or("")));
    if (texts.determinate) bar_->setFraction(texts.fraction);
}

}  // namespace tarvik
