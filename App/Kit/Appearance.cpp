#include "App/Kit/Appearance.hpp"

#include <QApplication>
#include <QFont>
#include <QPainter>
#include <QProxyStyle>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOption>

#include "App/Kit/Palette.hpp"

namespace tarvik::Appearance {

namespace {

QColor rgb(double r, double g, double b) {
    return QColor::fromRgbF(static_cast<float>(r), static_cast<float>(g), static_cast<float>(b));
}

QColor tone(Palette::Name name, bool dark) {
    const Palette::Pair pair = Palette::pair(name);
    const Palette::Triple& t = dark ? pair.dark : pair.light;
    return rgb(t.r, t.g, t.b);
}

// Built on top of the palette colours, so that controls sit on the cards
// without a seam.
QPalette build(bool dark) {
    const QPalette::ColorGroup groups[] = {QPalette::Active, QPalette::Inactive};
    const QColor window = tone(Palette::Name::windowBackground, dark);
    // Lighter than the cards in the dark, so that fields and tick boxes stand out.
    const QColor base = dark ? rgb(0.22, 0.22, 0.245) : QColor(Qt::white);
    const QColor text = dark ? rgb(0.92, 0.92, 0.93) : rgb(0.1, 0.1, 0.11);
    const QColor button = dark ? rgb(0.24, 0.24, 0.27) : rgb(0.98, 0.975, 0.965);
    const QColor accent = tone(Palette::Name::accent, dark);
    QPalette p;
    for (QPalette::ColorGroup g : groups) {
        p.setColor(g, QPalette::Window, window);
        p.setColor(g, QPalette::WindowText, text);
        p.setColor(g, QPalette::Base, base);
        p.setColor(g, QPalette::AlternateBase, tone(Palette::Name::stripe, dark));
        p.setColor(g, QPalette::Text, text);
        p.setColor(g, QPalette::Button, button);
        p.setColor(g, QPalette::ButtonText, text);
        p.setColor(g, QPalette::BrightText, Qt::white);
        p.setColor(g, QPalette::Highlight, accent);
        p.setColor(g, QPalette::HighlightedText, Qt::white);
        p.setColor(g, QPalette::ToolTipBase, base);
        p.setColor(g, QPalette::ToolTipText, text);
        p.setColor(g, QPalette::Link, tone(Palette::Name::accentText, dark));
        QColor placeholder = text;
        placeholder.setAlphaF(0.45F);
        p.setColor(g, QPalette::PlaceholderText, placeholder);
        p.setColor(g, QPalette::Light, dark ? rgb(0.32, 0.32, 0.35) : QColor(Qt::white));
        p.setColor(g, QPalette::Midlight, dark ? rgb(0.28, 0.28, 0.31) : rgb(0.9, 0.9, 0.88));
        p.setColor(g, QPalette::Mid, dark ? rgb(0.2, 0.2, 0.22) : rgb(0.75, 0.74, 0.72));
        p.setColor(g, QPalette::Dark, dark ? rgb(0.08, 0.08, 0.09) : rgb(0.6, 0.6, 0.58));
        p.setColor(g, QPalette::Shadow, Qt::black);
    }
    QColor dimmed = text;
    dimmed.setAlphaF(0.4F);
    p.setColor(QPalette::Disabled, QPalette::Window, window);
    p.setColor(QPalette::Disabled, QPalette::Base, base);
    p.setColor(QPalette::Disabled, QPalette::Button, button);
    p.setColor(QPalette::Disabled, QPalette::WindowText, dimmed);
    p.setColor(QPalette::Disabled, QPalette::Text, dimmed);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, dimmed);
    p.setColor(QPalette::Disabled, QPalette::Highlight,
               dark ? rgb(0.3, 0.3, 0.33) : rgb(0.8, 0.8, 0.78));
    return p;
}

// Fusion outlines a tick box in the window colour darkened, which on a dark
// card all but vanishes: an unticked box gets a frame in the text colour.
class TickBoxStyle : public QProxyStyle {
public:
    explicit TickBoxStyle(QStyle* base) : QProxyStyle(base) {}

    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        if (element != PE_IndicatorCheckBox || !option->state.testFlag(State_Off) ||
            !Palette::isDark(option->palette))
            return;
        QColor frame = option->palette.color(QPalette::Text);
        frame.setAlphaF(option->state.testFlag(State_Enabled) ? 0.6F : 0.3F);
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(frame, 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(option->rect).adjusted(0.5, 0.5, -1.5, -1.5), 2, 2);
        painter->restore();
    }
};

struct Desktop {
    QString style;
    QPalette palette;
};

// What the desktop gave before the first change, to go back to.
Desktop& desktop() {
    static Desktop saved{QApplication::style()->name(), QApplication::palette()};
    return saved;
}

}  // namespace

Mode modeFor(const std::optional<std::string>& setting) {
    if (!setting) return Mode::desktop;
    return *setting == "dark" ? Mode::dark : Mode::light;
}

QPalette darkPalette() {
    return build(true);
}
QPalette lightPalette() {
    return build(false);
}

void apply(Mode mode) {
    const Desktop& original = desktop();
    if (mode == Mode::desktop) {
        if (QApplication::style()->name() != original.style)
            QApplication::setStyle(QStyleFactory::create(original.style));
        QApplication::setPalette(original.palette);
    } else {
        QApplication::setStyle(new TickBoxStyle(QStyleFactory::create("Fusion")));
        QApplication::setPalette(mode == Mode::dark ? darkPalette() : lightPalette());
    }
    QFont font = QApplication::font();
    if (!font.families().contains("Noto Sans CJK JP")) {
        QStringList families = font.families();
        if (families.isEmpty()) families << font.family();
        families << "Noto Sans CJK JP";
        font.setFamilies(families);
        QApplication::setFont(font);
    }
}

}  // namespace tarvik::Appearance
