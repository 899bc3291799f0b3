#include "App/MainWindow/MainNotices.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "App/Kit/Icons.hpp"
#include "App/MainWindow/MainContent.hpp"
#include "App/Kit/Palette.hpp"
#include "App/Kit/TextStyle.hpp"
#include "App/Model/AppModel.hpp"

namespace tarvik {

namespace {

constexpr int noticeRadius = 12;

QHBoxLayout* noticeRow(QWidget* frame) {
    auto* row = new QHBoxLayout(frame);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(10);
    return row;
}

QLabel* symbol(QWidget* parent, Icons::Symbol which) {
    auto* label = new QLabel(parent);
    Icons::show(label, which, 16, Icons::color(Palette::Name::accentText));
    return label;
}

// Wraps onto as many lines as it needs and is never cut off.
QLabel* wrappingText(QWidget* parent, const char* name) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    TextStyle::setCallout(label);
    return label;
}

}  // namespace

NoticeFrame::NoticeFrame(QWidget* parent) : QFrame(parent) {}

void NoticeFrame::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), noticeRadius, noticeRadius);
    painter.fillPath(path, Palette::accentSoft());
}

CleanNotice::CleanNotice(AppModel& model, QWidget* parent) : NoticeFrame(parent), model_(model) {
    setObjectName("cleanNotice");
    QHBoxLayout* row = noticeRow(this);
    text_ = wrappingText(this, "cleanNoticeText");
    auto* close = new QToolButton(this);
    close->setObjectName("cleanNoticeClose");
    close->setAutoRaise(true);
    close->setToolTip("閉じる");
    close->setAccessibleName("閉じる");
    Icons::show(close, Icons::Symbol::xmark, 12, Icons::tone(TextStyle::Tone::secondary));
    connect(close, &QToolButton::clicked, this, [this] { model_.setCleanNotice(std::nullopt); });

    row->addWidget(symbol(this, Icons::Symbol::sparkles), 0, Qt::AlignTop);
    row->addWidget(text_, 1, Qt::AlignTop);
    row->addWidget(close, 0, Qt::AlignTop);

    connect(&model_, &AppModel::cleanNoticeChanged, this, &CleanNotice::refresh);
    refresh();
}

void CleanNotice::refresh() {
    const auto& notice = model_.cleanNotice();
    text_->setText(notice ? QString::fromStdString(*notice) : QString());
    setVisible(notice.has_value());
}

CarryOverBanner::CarryOverBanner(AppModel& model, QWidget* parent)
    : NoticeFrame(parent), model_(model) {
    setObjectName("carryOverBanner");
    QHBoxLayout* row = noticeRow(this);

    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    auto* title = new QLabel("続きから入れます", this);
    TextStyle::setFont(title, 14, QFont::DemiBold);
    text_ = wrappingText(this, "carryOverText");
    column->addWidget(title);
    column->addWidget(text_);

    auto* reset = new QPushButton("やめて最初から", this);
    reset->setObjectName("carryOverReset");
    TextStyle::setFont(reset, TextStyle::captionSize);
    reset->setToolTip("前のカードの記録を消します。次は選んだ曲を全部書き出します");
    connect(reset, &QPushButton::clicked, this, [this] { MainContent::resetCarryOver(model_); });

    row->addWidget(symbol(this, Icons::Symbol::sdcardFill), 0, Qt::AlignTop);
    row->addLayout(column, 1);
    row->addWidget(reset, 0, Qt::AlignTop);

    connect(&model_, &AppModel::carryOverChanged, this, &CarryOverBanner::refresh);
    connect(&model_, &AppModel::continuingChanged, this, &CarryOverBanner::refresh);
    refresh();
}

void CarryOverBanner::refresh() {
    text_->setText(QString::fromStdString(MainContent::carryOverText(model_.carryOver().size())));
    setVisible(MainContent::showsCarryOver(model_));
}

}  // namespace tarvik
