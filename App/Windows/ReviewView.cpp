#include "App/Windows/ReviewView.hpp"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

#include "App/Kit/Card.hpp"
#include "App/Kit/ElidedLabel.hpp"
#include "App/Kit/FunBackground.hpp"
#include "App/Kit/Icons.hpp"
#include "App/Kit/Palette.hpp"
#include "App/Kit/PaletteWatcher.hpp"
#include "App/Kit/QtText.hpp"
#include "App/Kit/TextStyle.hpp"
#include "App/Model/AppModel.hpp"
#include "App/Windows/ReviewContent.hpp"
#include "App/Kit/SheetButtons.hpp"
#include "App/Windows/StripedTable.hpp"

namespace tarvik {

namespace {

QLabel* summaryLabel(const ReviewLine& line, QWidget* parent) {
    using Style = ReviewLine::Style;
    QLabel* label = nullptr;
    if (line.style == Style::path) {
        auto* path = new ElidedLabel(parent);
        path->setText(qt(line.text));
        label = path;
    } else {
        label = new QLabel(qt(line.text), parent);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
    }
    TextStyle::setFont(label, 13);
    switch (line.style) {
        case Style::headline:
            TextStyle::setFont(label, 16, QFont::Bold);
            break;
        case Style::teal:
            TextStyle::setColor(label, Palette::Name::teal);
            break;
        case Style::success:
            TextStyle::setColor(label, Palette::Name::success);
            break;
        case Style::warning:
            TextStyle::setColor(label, Palette::Name::warning);
            break;
        case Style::callout:
            TextStyle::setCallout(label);
            [[fallthrough]];
        case Style::path:
        case Style::secondary:
            TextStyle::setTone(label, TextStyle::Tone::secondary);
            break;
    }
    return label;
}

// A segment of the tab picker: the chosen one in the accent fill, the other on
// the card fill, so that the choice reads at a glance in either appearance.
void makeSegment(QPushButton* segment) {
    const auto paint = [segment] {
        QPalette palette = segment->palette();
        const bool chosen = segment->isChecked();
        palette.setColor(QPalette::Button, chosen ? Palette::accent() : Palette::card());
        palette.setColor(
            QPalette::ButtonText,
            chosen ? QColor(Qt::white) : TextStyle::toneColor(TextStyle::Tone::primary));
        segment->setPalette(palette);
    };
    PaletteWatcher::watch(segment, paint);
    QObject::connect(segment, &QPushButton::toggled, segment, paint);
}

}  // namespace

ReviewView::ReviewView(AppModel& model, QWidget* parent) : QDialog(parent), model_(model) {
    setObjectName("reviewSheet");
    setWindowModality(Qt::WindowModal);
    setWindowTitle("この内容で書き出します");
    setMinimumSize(760, 520);

    auto* background = new FunBackground(this);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(background);
    auto* root = new QVBoxLayout(background);
    root->setContentsMargins(20, 20, 20, 20);
    root->setSpacing(12);

    buildTitle(*root);
    buildMiddle(*root);
    buildFooter(*root);

    for (auto signal :
         {&AppModel::planChanged, &AppModel::profilesChanged, &AppModel::profileIdChanged,
          &AppModel::destPathChanged, &AppModel::volumesChanged, &AppModel::continuingChanged,
          &AppModel::carryOverChanged, &AppModel::renamedChanged, &AppModel::settingsChanged})
        connect(&model_, signal, this, &ReviewView::scheduleRefresh);
    connect(&model_, &AppModel::stateChanged, this, &ReviewView::followState);
    refresh();
}

void ReviewView::buildTitle(QVBoxLayout& root) {
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    auto* symbol = new QLabel(this);
    symbol->setObjectName("reviewTitleSymbol");
    Icons::show(symbol, Icons::Symbol::checklist, 24, Icons::color(Palette::Name::teal));
    auto* title = new QLabel("この内容で書き出します", this);
    title->setObjectName("reviewTitle");
    TextStyle::setFont(title, 24, QFont::Black);
    row->addWidget(symbol);
    row->addWidget(title);
    row->addStretch(1);
    root.addLayout(row);
}

void ReviewView::buildMiddle(QVBoxLayout& root) {
    middle_ = new QWidget(this);
    middle_->setObjectName("reviewMiddle");
    auto* layout = new QVBoxLayout(middle_);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);

    auto* card = new Card(model_, middle_);
    card->setObjectName("reviewSummary");
    summaryLines_ = new QVBoxLayout;
    summaryLines_->setSpacing(6);
    card->setContentLayout(summaryLines_);
    layout->addWidget(card);

    auto* picker = new QWidget(middle_);
    picker->setMaximumWidth(360);
    auto* segments = new QHBoxLayout(picker);
    segments->setContentsMargins(0, 0, 0, 0);
    segments->setSpacing(0);
    tabs_ = new QButtonGroup(this);
    songsTab_ = new QPushButton(picker);
    songsTab_->setObjectName("reviewSongsTab");
    titlesTab_ = new QPushButton(picker);
    titlesTab_->setObjectName("reviewTitlesTab");
    for (QPushButton* segment : {songsTab_, titlesTab_}) {
        segment->setCheckable(true);
        segment->setAutoDefault(false);
        segment->setFocusPolicy(Qt::TabFocus);
        makeSegment(segment);
        segments->addWidget(segment, 1);
    }
    tabs_->addButton(songsTab_, 0);
    tabs_->addButton(titlesTab_, 1);
    connect(tabs_, &QButtonGroup::idClicked, this, [this](int id) {
        tab_ = id;
        refreshTable(ReviewSnapshot::of(model_));
    });
    layout->addWidget(picker);

    table_ = new StripedTable(middle_);
    table_->setObjectName("reviewTable");
    layout->addWidget(table_, 1);
    root.addWidget(middle_, 1);
}

void ReviewView::buildFooter(QVBoxLayout& root) {
    auto* row = new QHBoxLayout;
    skipReview_ = new QCheckBox("次回から確認を飛ばす", this);
    skipReview_->setObjectName("skipReviewToggle");
    TextStyle::setCaption(skipReview_);
    connect(skipReview_, &QCheckBox::toggled, this, [this](bool on) { model_.setSkipReview(on); });

    cancel_ = new QPushButton("やめる", this);
    cancel_->setObjectName("reviewCancelButton");
    cancel_->setAutoDefault(false);
    connect(cancel_, &QPushButton::clicked, this, &ReviewView::reject);

    confirm_ = new QPushButton(this);
    confirm_->setObjectName("reviewConfirmButton");
    confirm_->setDefault(true);
    confirm_->setMinimumHeight(32);
    SheetButtons::makeProminent(confirm_);
    connect(confirm_, &QPushButton::clicked, this, [this] { model_.startConversion(); });

    row->addWidget(skipReview_);
    row->addStretch(1);
    row->addWidget(cancel_);
    row->addWidget(confirm_);
    root.addLayout(row);
}

void ReviewView::reject() {
    model_.resetRun();
}

void ReviewView::showEvent(QShowEvent* event) {
    // Opened, not restored from minimised: a restore keeps the tab.
    if (!event->spontaneous()) tab_ = 0;
    refresh();
    QDialog::showEvent(event);
}

// Only the two buttons end the review: closing the window would leave the run
// waiting in `reviewing` behind a sheet that is gone.
void ReviewView::closeEvent(QCloseEvent* event) {
    event->ignore();
}

void ReviewView::followState() {
    if (!model_.state().is(RunState::Case::reviewing) && isVisible()) done(QDialog::Accepted);
}

// Several members change together (a plan and its renamed titles); one
// redraw after them is enough.
void ReviewView::scheduleRefresh() {
    if (refreshQueued_) return;
    refreshQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        refreshQueued_ = false;
        refresh();
    });
}

void ReviewView::refresh() {
    const ReviewSnapshot snapshot = ReviewSnapshot::of(model_);
    const bool hasMiddle = reviewHasMiddle(snapshot);
    middle_->setVisible(hasMiddle);
    if (hasMiddle) {
        refreshSummary(snapshot);
        refreshTable(snapshot);
    }
    const QSignalBlocker blocker(skipReview_);
    skipReview_->setChecked(model_.skipReview());
    confirm_->setText(qt(confirmLabel(snapshot)));
    Icons::show(confirm_,
                snapshot.destination != nullptr ? Icons::Symbol::sdcard : Icons::Symbol::folder, 16,
                Icons::fixed(Qt::white));
    confirm_->setEnabled(confirmEnabled(snapshot));
}

void ReviewView::refreshSummary(const ReviewSnapshot& snapshot) {
    while (QLayoutItem* item = summaryLines_->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    for (const ReviewLine& line : reviewSummary(snapshot))
        summaryLines_->addWidget(summaryLabel(line, middle_));
    songsTab_->setText(qt(songsTabLabel(snapshot)));
    titlesTab_->setText(qt(titlesTabLabel(snapshot)));
}

// The rows read the model when they come into view, never a pointer kept from
// an earlier plan: a paint may come between a new plan and the next refresh.
void ReviewView::refreshTable(const ReviewSnapshot& snapshot) {
    tabs_->button(tab_ == 0 ? 0 : 1)->setChecked(true);
    const AppModel* model = &model_;
    if (tab_ == 0) {
        const int count =
            snapshot.plan != nullptr ? static_cast<int>(snapshot.plan->items.size()) : 0;
        table_->setContents(songTableHeaders(snapshot),
                            {count, [model](int row) {
                                 const auto& plan = model->plan();
                                 if (!plan || static_cast<std::size_t>(row) >= plan->items.size())
                                     return std::vector<Cell>{};
                                 return songTableRow(plan->items[row]);
                             }});
    } else {
        const int count = static_cast<int>(model_.renamed().size());
        table_->setContents(titlesTableHeaders(),
                            {count, [model](int row) {
                                 const auto& renamed = model->renamed();
                                 if (static_cast<std::size_t>(row) >= renamed.size())
                                     return std::vector<Cell>{};
                                 return titlesTableRow(renamed[row]);
                             }});
    }
}

}  // namespace tarvik
