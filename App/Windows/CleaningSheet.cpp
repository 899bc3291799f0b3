#include "App/Windows/CleaningSheet.hpp"

#include <QCloseEvent>
#include <QKeySequence>
#include <QLabel>
#include <QShortcut>
#include <QVBoxLayout>

#include "App/Kit/FunBackground.hpp"
#include "App/Kit/FunProgressBar.hpp"
#include "App/Kit/QtText.hpp"
#include "App/Kit/TextStyle.hpp"
#include "App/Model/CardCleaningMenu.hpp"
#include "App/Model/VolumeList.hpp"

namespace tarvik {

CleaningSheet::CleaningSheet(InteractiveCleaning& cleaning, AppModel& model,
                             std::function<void()> quit, QWidget* parent)
    : QDialog(parent), cleaning_(cleaning) {
    setObjectName("cleaningSheet");
    setWindowTitle(cleaningTitle);
    setWindowModality(Qt::WindowModal);
    setMinimumWidth(420);
    FunBackground::fill(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 22, 24, 22);
    layout->setSpacing(12);
    auto* title = new QLabel(cleaningTitle, this);
    title->setObjectName("cleaningTitle");
    TextStyle::setFont(title, 17, QFont::Bold);
    count_ = new QLabel(this);
    count_->setObjectName("cleaningCount");
    TextStyle::setCallout(count_);
    TextStyle::setTone(count_, TextStyle::Tone::secondary);
    bar_ = new FunProgressBar(model, this);
    layout->addWidget(title);
    layout->addWidget(bar_);
    layout->addWidget(count_);
    connect(&cleaning_, &InteractiveCleaning::progressed, this, &CleaningSheet::follow);
    connect(&cleaning_, &InteractiveCleaning::ended, this, &QDialog::accept);
    if (quit) {
        auto* quitKey = new QShortcut(QKeySequence("Ctrl+Q"), this);
        connect(quitKey, &QShortcut::activated, this, std::move(quit));
    }
    follow();
}

void CleaningSheet::waitFor(InteractiveCleaning& cleaning, AppModel& model, QWidget* parent,
                            std::function<void()> quit) {
    if (!cleaning.running()) return;
    CleaningSheet sheet(cleaning, model, std::move(quit), parent);
    sheet.exec();
}

void CleaningSheet::closeEvent(QCloseEvent* event) {
    // Only the cleaning's end closes it.
    if (cleaning_.running()) event->ignore();
}

void CleaningSheet::follow() {
    const std::int64_t total = cleaning_.total();
    count_->setText(qt(cleaningCountText(cleaning_.done(), total)));
    bar_->setFraction(
        total == 0 ? 0.0 : static_cast<double>(cleaning_.done()) / static_cast<double>(total));
}

}  // namespace tarvik
