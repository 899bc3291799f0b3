#include "App/Windows/SendSourceBox.hpp"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

#include "App/Kit/ElidedLabel.hpp"
#include "App/Kit/FolderChooser.hpp"
#include "App/Kit/Icons.hpp"
#include "App/Kit/Picker.hpp"
#include "App/Kit/QtText.hpp"
#include "App/Kit/SymbolLabel.hpp"
#include "App/Model/AppModel.hpp"
#include "App/Windows/SendToSDState.hpp"

namespace tarvik {

SendSourceBox::SendSourceBox(SendToSDState& state, QWidget* parent)
    : Card(state.model(), parent),
      state_(state),
      sourcePath_(new ElidedLabel(this)),
      sourceButton_(new QPushButton(this)),
      noCard_(new SymbolLabel(Icons::Symbol::sdcard, "SD カードを差し込んでください", this)),
      cardPicker_(new Picker(this)) {
    setObjectName("sourceAndCard");
    auto* rows = new QVBoxLayout;
    rows->setSpacing(8);

    auto* source = new QHBoxLayout;
    sourcePath_->setObjectName("sourcePath");
    sourceButton_->setObjectName("chooseSourceButton");
    sourceButton_->setAutoDefault(false);
    TextStyle::setCallout(sourceButton_);
    connect(sourceButton_, &QPushButton::clicked, this, &SendSourceBox::chooseExportFolder);
    source->addWidget(TextStyle::secondaryLabel("送るもの:", this));
    source->addWidget(sourcePath_, 1);
    source->addWidget(sourceButton_);

    auto* target = new QHBoxLayout;
    noCard_->setObjectName("noCardLabel");
    noCard_->setTone(TextStyle::Tone::secondary);
    cardPicker_->setObjectName("cardPicker");
    cardPicker_->setMaximumWidth(360);
    cardPicker_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(cardPicker_, &QComboBox::activated, this, [this](int index) {
        state_.setCardPath(cardPicker_->itemData(index).toString().toStdString());
    });
    auto* reread = new QPushButton(this);
    reread->setObjectName("refreshCardsButton");
    reread->setAutoDefault(false);
    reread->setToolTip("差し直したときに読み直す");
    Icons::show(reread, Icons::Symbol::arrowClockwise, 13, Icons::tone(TextStyle::Tone::primary));
    connect(reread, &QPushButton::clicked, this, [this] { state_.model().refreshVolumes(); });
    target->addWidget(TextStyle::secondaryLabel("送り先:", this));
    target->addWidget(noCard_);
    target->addWidget(cardPicker_);
    target->addStretch(1);
    target->addWidget(reread);

    rows->addLayout(source);
    rows->addLayout(target);
    setContentLayout(rows);
}

void SendSourceBox::refresh() {
    const std::string& source = state_.source();
    sourcePath_->setText(source.empty() ? "未選択（書き出したフォルダを選んでください）"
                                        : qt(source));
    TextStyle::setTone(sourcePath_,
                       source.empty() ? TextStyle::Tone::secondary : TextStyle::Tone::primary);
    sourceButton_->setText(source.empty() ? "フォルダを選ぶ…" : "変更…");

    const std::vector<Volume> cards = state_.cards();
    noCard_->setVisible(cards.empty());
    cardPicker_->setVisible(!cards.empty());
    const QSignalBlocker blocker(cardPicker_);
    cardPicker_->clear();
    for (const Volume& card : cards)
        cardPicker_->addItem(qt(SendContent::cardEntry(card)), qt(card.url.native()));
    cardPicker_->setCurrentIndex(cardPicker_->findData(qt(state_.cardPath())));
}

void SendSourceBox::chooseExportFolder() {
    FolderChooser::open(
        this, state_.model(),
        {.message = "アプリで書き出したフォルダ（アーティストのフォルダが並んでいるところ）"
                    "を選んでください",
         .start = state_.source()},
        [this](const std::filesystem::path& folder) { state_.setSource(folder.string()); });
}

SendDropHint::SendDropHint(QWidget* parent) : QWidget(parent) {
    setObjectName("dropHint");
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(10);
    auto* symbol = new QLabel(this);
    Icons::show(symbol, Icons::Symbol::trayAndArrowDownFill, 22, Icons::color(Palette::Name::teal));
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* title = new QLabel("ファイルマネージャからフォルダをここへドラッグ", this);
    TextStyle::setFont(title, 14, QFont::DemiBold);
    auto* body = new QLabel(
        "アルバムでもアーティストのフォルダでも、落とすとすぐ SD カードへ送ります。"
        "名前はカーナビが読める形に直り、隠しファイルもできません。",
        this);
    body->setWordWrap(true);
    TextStyle::setCaption(body);
    TextStyle::setTone(body, TextStyle::Tone::secondary);
    texts->addWidget(title);
    texts->addWidget(body);
    row->addWidget(symbol);
    row->addLayout(texts, 1);
}

void SendDropHint::setTargeted(bool on) {
    targeted_ = on;
    update();
}

void SendDropHint::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 12, 12);
    painter.fillPath(shape, targeted_ ? Palette::panel() : Palette::card());
    QColor outline = Palette::highlight();
    outline.setAlphaF(0.6F);
    QPen pen(outline, 1.5);
    pen.setDashPattern({6 / 1.5, 4 / 1.5});  // in line widths: 6 on, 4 off
    painter.setPen(pen);
    painter.drawPath(shape);
}

}  // namespace tarvik
