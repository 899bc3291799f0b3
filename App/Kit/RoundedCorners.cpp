#include "App/Kit/RoundedCorners.hpp"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

namespace tarvik::RoundedCorners {

namespace {

class Overlay : public QWidget {
public:
    Overlay(QWidget* target, int radius, Colour around, Colour outline)
        : QWidget(target),
          radius_(radius),
          around_(std::move(around)),
          outline_(std::move(outline)) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        target->installEventFilter(this);
        follow();
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        // A child added later would cover the corners; the overlay goes back on top.
        if (event->type() == QEvent::Resize || event->type() == QEvent::ChildAdded) follow();
        return false;
    }

    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        QPainterPath rounded;
        rounded.addRoundedRect(bounds, radius_, radius_);
        QPainterPath whole;
        whole.addRect(rect());
        painter.fillPath(whole.subtracted(rounded), around_());
        if (outline_) {
            painter.setPen(QPen(outline_(), 1));
            painter.drawPath(rounded);
        }
    }

private:
    void follow() {
        setGeometry(parentWidget()->rect());
        raise();
    }

    int radius_;
    Colour around_;
    Colour outline_;
};

}  // namespace

void apply(QWidget* target, int radius, Colour around, Colour outline) {
    new Overlay(target, radius, std::move(around), std::move(outline));
}

}  // namespace tarvik::RoundedCorners
