#include "App/Kit/TextStyle.hpp"

#include <QApplication>
#include <QLabel>
#include <QWidget>
#include <functional>

#include "App/Kit/PaletteWatcher.hpp"

namespace tarvik::TextStyle {

namespace {

constexpr const char* colourWatcherName = "textStyleColour";

// Text roles of labels, check boxes, buttons and line edits alike; disabled
// text keeps its hue but fades, as the desktop's dimmed text does.
void paintText(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    QColor faded = colour;
    faded.setAlphaF(colour.alphaF() * 0.45F);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Active, role, colour);
        palette.setColor(QPalette::Inactive, role, colour);
        palette.setColor(QPalette::Disabled, role, faded);
    }
    widget->setPalette(palette);
}

void replaceColour(QWidget* widget, std::function<QColor()> colour) {
    delete widget->findChild<PaletteWatcher*>(colourWatcherName, Qt::FindDirectChildrenOnly);
    if (!colour) {
        widget->setPalette(QPalette());
        return;
    }
    PaletteWatcher* watcher =
        PaletteWatcher::watch(widget, [widget, colour] { paintText(widget, colour()); });
    watcher->setObjectName(colourWatcherName);
}

}  // namespace

QFont font(int pixelSize, QFont::Weight weight) {
    QFont f = QApplication::font();
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

void setFont(QWidget* widget, int pixelSize, QFont::Weight weight) {
    widget->setFont(font(pixelSize, weight));
}
void setCallout(QWidget* widget) {
    setFont(widget, calloutSize);
}
void setCaption(QWidget* widget) {
    setFont(widget, captionSize);
}

QColor toneColor(Tone tone) {
    QColor colour = QApplication::palette().color(QPalette::WindowText);
    if (tone == Tone::secondary) colour.setAlphaF(0.6F);
    if (tone == Tone::tertiary) colour.setAlphaF(0.35F);
    return colour;
}

void setTone(QWidget* widget, Tone tone) {
    if (tone == Tone::primary)
        replaceColour(widget, {});
    else
        replaceColour(widget, [tone] { return toneColor(tone); });
}

void setColor(QWidget* widget, Palette::Name name) {
    replaceColour(widget, [name] { return Palette::color(name); });
}

QLabel* secondaryLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    setTone(label, Tone::secondary);
    return label;
}

}  // namespace tarvik::TextStyle
