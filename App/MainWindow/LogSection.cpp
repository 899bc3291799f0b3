#include "App/MainWindow/LogSection.hpp"

#include <QButtonGroup>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "App/Kit/Animations.hpp"
#include "App/Kit/Card.hpp"
#include "App/Kit/Icons.hpp"
#include "App/MainWindow/LogContent.hpp"
#include "App/Kit/Palette.hpp"
#include "App/Kit/PaletteWatcher.hpp"
#include "App/Kit/RoundedCorners.hpp"
#include "App/Model/AppModel.hpp"

namespace tarvik {

namespace {

QTextCharFormat formatFor(LogLine::Kind kind) {
    const LogContent::Colour colour = LogContent::colourFor(kind);
    QTextCharFormat format;
    format.setForeground(colour.name ? Palette::color(*colour.name)
                                     : TextStyle::toneColor(colour.tone));
    return format;
}

// A failure's reason sits on its own line inside the same row: a line
// separator breaks the line without starting a new row.
QString rowText(const std::string& text) {
    QString row = QString::fromStdString(text);
    row.replace(QChar('\n'), QChar::LineSeparator);
    return row;
}

}  // namespace

LogSection::LogSection(AppModel& model, QWidget* parent)
    : QWidget(parent),
      model_(model),
      arrow_(new QToolButton(this)),
      disclosure_(new QToolButton(this)),
      content_(new QWidget(this)),
      filters_(new QButtonGroup(this)),
      box_(new QPlainTextEdit(content_)),
      frame_(new QTimer(this)) {
    setObjectName("logSection");
    // The card lies under the content rather than holding it: its shadow is
    // drawn from the card alone, so a fast run's new rows do not make it
    // render and blur the whole panel again for every line.
    auto* card = new Card(model, this);
    auto* inner = new QWidget(this);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(card, 0, 0);
    grid->addWidget(inner, 0, 0);
    auto* column = new QVBoxLayout(inner);
    column->setContentsMargins(Card::inset, Card::inset, Card::inset, Card::inset);
    column->setSpacing(0);

    arrow_->setObjectName("logDisclosureArrow");
    arrow_->setAutoRaise(true);
    disclosure_->setObjectName("logDisclosure");
    disclosure_->setText("くわしく見る");
    disclosure_->setAutoRaise(true);
    disclosure_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    TextStyle::setFont(disclosure_, 15, QFont::DemiBold);
    Icons::show(disclosure_, Icons::Symbol::textMagnifyingglass, 16,
                Icons::tone(TextStyle::Tone::primary));
    for (QToolButton* button : {arrow_, disclosure_})
        connect(button, &QToolButton::clicked, this,
                [this] { model_.setShowLog(!model_.showLog()); });
    auto* header = new QHBoxLayout;
    header->setSpacing(2);
    header->addWidget(arrow_);
    header->addWidget(disclosure_);
    header->addStretch();

    auto* filterRow = new QHBoxLayout;
    filterRow->setSpacing(0);
    for (int value = 0; value < 3; ++value) {
        auto* segment = new QPushButton(LogContent::filterLabels[value], content_);
        segment->setObjectName(QString("logFilter%1").arg(value));
        segment->setCheckable(true);
        segment->setMaximumWidth(100);
        filters_->addButton(segment, value);
        filterRow->addWidget(segment);
    }
    filters_->button(0)->setChecked(true);
    filterRow->addStretch();
    connect(filters_, &QButtonGroup::idClicked, this, &LogSection::setFilter);

    box_->setObjectName("logBox");
    box_->setReadOnly(true);
    box_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    box_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    box_->setMinimumHeight(160);
    box_->setMaximumHeight(320);
    box_->setFrameShape(QFrame::NoFrame);
    box_->setAutoFillBackground(true);
    box_->document()->setDocumentMargin(6);
    RoundedCorners::apply(box_, 6, [] { return Palette::card(); });
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(TextStyle::captionSize);
    box_->setFont(mono);

    auto* contentColumn = new QVBoxLayout(content_);
    contentColumn->setContentsMargins(0, 6, 0, 0);
    contentColumn->setSpacing(6);
    contentColumn->addLayout(filterRow);
    contentColumn->addWidget(box_);
    column->addLayout(header);
    column->addWidget(content_);

    // Rows go in as they come; the box is drawn again at most once a frame,
    // since every drawing of it also draws the card's shadow beneath anew.
    frame_->setSingleShot(true);
    frame_->setInterval(16);
    connect(frame_, &QTimer::timeout, this, [this] { box_->setUpdatesEnabled(true); });
    connect(&model_, &AppModel::logAppended, this, &LogSection::appendLines);
    connect(&model_, &AppModel::logTrimmed, this, &LogSection::trimLines);
    connect(&model_, &AppModel::logCleared, this, &LogSection::clearLines);
    connect(&model_, &AppModel::showLogChanged, this, &LogSection::applyExpansion);
    // The rows' colours are fixed when they are written: a new appearance
    // writes them again.
    PaletteWatcher::watch(box_, [this] { rebuild(); });
    newestId_ = newestShownId();  // the first show stays at the top
    applyExpansion();
}

void LogSection::setFilter(int filter) {
    if (filter == filter_) return;
    filter_ = filter;
    if (QAbstractButton* segment = filters_->button(filter)) segment->setChecked(true);
    rebuild();
    follow(newestShownId());
}

void LogSection::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // The panel appears anew with every line and stays where it is, as at its
    // first show; a window restored from minimised keeps its choice.
    if (event->spontaneous() || filter_ == 0) return;
    filter_ = 0;
    filters_->button(0)->setChecked(true);
    rebuild();
    newestId_ = newestShownId();
}

void LogSection::rebuild() {
    box_->clear();
    shown_.clear();
    rows_ = 0;
    for (const LogLine& line : model_.log()) {
        const bool shown = LogContent::accepts(filter_, line.kind);
        shown_.push_back(shown);
        if (shown) appendRow(line);
    }
}

void LogSection::appendRow(const LogLine& line) {
    QTextCursor cursor(box_->document());
    cursor.movePosition(QTextCursor::End);
    // Rows stand 2 points apart.
    QTextBlockFormat spaced;
    spaced.setBottomMargin(2);
    if (rows_ > 0)
        cursor.insertBlock(spaced);
    else
        cursor.setBlockFormat(spaced);
    cursor.insertText(rowText(line.text), formatFor(line.kind));
    ++rows_;
}

void LogSection::holdDrawing() {
    if (frame_->isActive() || !box_->isVisible()) return;
    box_->setUpdatesEnabled(false);
    frame_->start();
}

void LogSection::appendLines(qsizetype count) {
    holdDrawing();
    const auto& log = model_.log();
    const auto first =
        static_cast<qsizetype>(log.size()) - std::min(count, static_cast<qsizetype>(log.size()));
    const LogLine* newest = nullptr;
    for (auto i = static_cast<std::size_t>(first); i < log.size(); ++i) {
        const bool shown = LogContent::accepts(filter_, log[i].kind);
        shown_.push_back(shown);
        if (!shown) continue;
        appendRow(log[i]);
        newest = &log[i];
    }
    if (newest != nullptr) follow(QString::fromStdString(newest->id));
}

void LogSection::trimLines(qsizetype count) {
    qsizetype rows = 0;
    for (qsizetype i = 0; i < count && !shown_.empty(); ++i) {
        rows += shown_.front() ? 1 : 0;
        shown_.pop_front();
    }
    if (rows == 0) return;
    holdDrawing();
    if (rows >= rows_) {
        box_->clear();
        rows_ = 0;
        return;
    }
    // The view stays on the rows it showed: they move up by what went.
    QScrollBar* bar = box_->verticalScrollBar();
    const int before = bar->value();
    const bool atEnd = before == bar->maximum();
    QTextCursor cursor(box_->document());
    cursor.movePosition(QTextCursor::Start);
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor, static_cast<int>(rows));
    cursor.removeSelectedText();
    rows_ -= rows;
    bar->setValue(atEnd ? bar->maximum() : std::max(0, before - static_cast<int>(rows)));
}

void LogSection::clearLines() {
    box_->clear();
    shown_.clear();
    rows_ = 0;
    newestId_.clear();
}

void LogSection::applyExpansion() {
    const bool open = model_.showLog();
    content_->setVisible(open);
    arrow_->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
}

QString LogSection::newestShownId() const {
    const auto& log = model_.log();
    const auto newest = std::find_if(log.rbegin(), log.rend(), [this](const LogLine& line) {
        return LogContent::accepts(filter_, line.kind);
    });
    return newest == log.rend() ? QString() : QString::fromStdString(newest->id);
}

void LogSection::follow(const QString& newestId) {
    const bool moved = !newestId.isEmpty() && newestId != newestId_;
    newestId_ = newestId;
    if (moved && Animations::on(model_))
        box_->verticalScrollBar()->setValue(box_->verticalScrollBar()->maximum());
}

}  // namespace tarvik
