#include "App/MainWindow/HeaderBanner.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "App/Kit/Icons.hpp"
#include "App/Kit/Palette.hpp"
#include "App/Kit/TextStyle.hpp"
#include "App/Model/AppModel.hpp"

namespace tarvik {

namespace {

// The card symbol on a pale accent disc, 44 × 44.
class Emblem : public QWidget {
public:
    explicit Emblem(QWidget* parent) : QWidget(parent) { setFixedSize(44, 44); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Palette::accentSoft());
        painter.drawEllipse(rect());
        const int side = 24;
        painter.drawPixmap((width() - side) / 2, (height() - side) / 2,
                           Icons::pixmap(Icons::Symbol::sdcardFill, side, Palette::accentText(),
                                         devicePixelRatioF()));
    }
};

}  // namespace

HeaderBanner::HeaderBanner(AppModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    setObjectName("headerBanner");
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 0, 4, 4);
    row->setSpacing(16);

    auto* titles = new QWidget(this);
    auto* column = new QVBoxLayout(titles);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    auto* name = new QLabel("タルヴィク", titles);
    TextStyle::setFont(name, 24, QFont::ExtraBold);
    auto* slogan = new QLabel("好きな曲を、曲名つきで車へ。", titles);
    TextStyle::setCallout(slogan);
    TextStyle::setTone(slogan, TextStyle::Tone::secondary);
    column->addWidget(name);
    column->addWidget(slogan);
    // Read as one element: the name, then the slogan.
    titles->setAccessibleName("タルヴィク、好きな曲を、曲名つきで車へ。");

    auto* send = new QPushButton("SD カードへ送る", this);
    send->setObjectName("headerSendButton");
    TextStyle::setFont(send, 14, QFont::DemiBold);
    TextStyle::setColor(send, Palette::Name::accentText);
    Icons::show(send, Icons::Symbol::sdcard, 16, Icons::color(Palette::Name::accentText));
    send->setMinimumHeight(34);
    send->setToolTip(
        "書き出したアルバムを SD カードへ写します（Ctrl+E）。ファイルマネージャ "
        "からフォルダをドラッグしても送れます");
    connect(send, &QPushButton::clicked, this, [this] { model_.setShowSend(true); });

    row->addWidget(new Emblem(this));
    row->addWidget(titles);
    row->addStretch();
    row->addWidget(send);
}

}  // namespace tarvik
