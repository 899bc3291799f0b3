#include "App/Kit/Icons.hpp"

#include <QAbstractButton>
#include <QLabel>
#include <QPainter>
#include <QSvgRenderer>

#include "App/Kit/PaletteWatcher.hpp"

namespace tarvik::Icons {

namespace {

// Bodies on a 24 × 24 grid; "C" is replaced by the colour. Holes are cut
// with the even-odd rule, so a filled symbol shows what lies behind it.
const char* body(Symbol symbol) {
    switch (symbol) {
        case Symbol::arrowClockwise:
            return R"(<path d="M18.5 12a6.5 6.5 0 1 1-1.9-4.6" fill="none" stroke="C" stroke-width="2" stroke-linecap="round"/><path d="M19.5 3.5v6h-6z" fill="C"/>)";
        case Symbol::arrowRight:
            return R"(<path d="M4 12h15M13 6l6 6-6 6" fill="none" stroke="C" stroke-width="2" stroke-linecap="round" stroke-linejoin="round"/>)";
        case Symbol::arrowRightCircle:
            return R"(<circle cx="12" cy="12" r="9" fill="none" stroke="C" stroke-width="1.6"/><path d="M7.5 12h8.5M12.5 8l4 4-4 4" fill="none" stroke="C" stroke-width="1.8" stroke-linecap="round" stroke-linejoin="round"/>)";
        case Symbol::carFill:
            return R"(<path fill-rule="evenodd" fill="C" d="M6.6 4.5h10.8l2.4 5.5H21a1.5 1.5 0 0 1 1.5 1.5V17H1.5v-5.5A1.5 1.5 0 0 1 3 10h1.2zM8 6.3h8l1.5 3.7h-11z"/><circle cx="6.5" cy="17.5" r="2.3" fill="C"/><circle cx="17.5" cy="17.5" r="2.3" fill="C"/>)";
        case Symbol::checklist:
            return R"(<path d="M3 6l1.6 1.6L7.8 4.4M3 12.5l1.6 1.6 3.2-3.2M3 19l1.6 1.6 3.2-3.2M11 6h10M11 12.5h10M11 19h10" fill="none" stroke="C" stroke-width="1.8" stroke-linecap="round" stroke-linejoin="round"/>)";
        case Symbol::checkmark:
            return R"(<path d="M4.5 12.5l5 5 10-11" fill="none" stroke="C" stroke-width="2.6" stroke-linecap="round" stroke-linejoin="round"/>)";
        case Symbol::checkmarkCircleFill:
            return R"(<path fill-rule="evenodd" fill="C" d="M12 2a10 10 0 1 1 0 20a10 10 0 1 1 0-20zM10.3 16.6L6.2 12.5 7.6 11.1 10.3 13.8 16.4 7.7 17.8 9.1z"/>)";
        case Symbol::eject:
            return R"(<path d="M12 4l7.5 8.5h-15z M4.5 15.5h15v2.5h-15z" fill="C"/>)";
        case Symbol::exclamationmarkTriangleFill:
            return R"(<path fill-rule="evenodd" fill="C" d="M12 2.5l10.5 18.5h-21zM11 8.5h2v7h-2zM12 16.8a1.2 1.2 0 1 1 0 2.4a1.2 1.2 0 1 1 0-2.4z"/>)";
        case Symbol::folder:
            return R"(<path d="M3 6.5A1.5 1.5 0 0 1 4.5 5h5l2 2.2h8A1.5 1.5 0 0 1 21 8.7v9.8a1.5 1.5 0 0 1-1.5 1.5h-15A1.5 1.5 0 0 1 3 18.5z" fill="none" stroke="C" stroke-width="1.6" stroke-linejoin="round"/>)";
        case Symbol::hourglass:
            return R"(<path d="M6 3h12M6 21h12M7 3c0 5 5 6 5 9s-5 4-5 9M17 3c0 5-5 6-5 9s5 4 5 9" fill="none" stroke="C" stroke-width="1.7" stroke-linecap="round"/>)";
        case Symbol::infoCircle:
            return R"(<circle cx="12" cy="12" r="9" fill="none" stroke="C" stroke-width="1.6"/><circle cx="12" cy="7.8" r="1.2" fill="C"/><path d="M11 10.5h2v7h-2z" fill="C"/>)";
        case Symbol::lightbulbFill:
            return R"(<path d="M12 2a7 7 0 0 0-4 12.7V17h8v-2.3A7 7 0 0 0 12 2zM9 18.3h6v1.6H9zM10 20.6h4v1.6h-4z" fill="C"/>)";
        case Symbol::listBulletRectangle:
            return R"(<rect x="2.5" y="4" width="19" height="16" rx="2.5" fill="none" stroke="C" stroke-width="1.6"/><circle cx="7" cy="8.7" r="1.1" fill="C"/><circle cx="7" cy="12" r="1.1" fill="C"/><circle cx="7" cy="15.3" r="1.1" fill="C"/><path d="M10 8.7h8M10 12h8M10 15.3h8" stroke="C" stroke-width="1.6" stroke-linecap="round"/>)";
        case Symbol::minusCircle:
            return R"(<circle cx="12" cy="12" r="9" fill="none" stroke="C" stroke-width="1.6"/><path d="M7.5 12h9" stroke="C" stroke-width="1.8" stroke-linecap="round"/>)";
        case Symbol::musicMic:
            return R"(<rect x="9" y="2.5" width="6" height="11" rx="3" fill="C"/><path d="M6 11a6 6 0 0 0 12 0M12 17v4M8.5 21h7" fill="none" stroke="C" stroke-width="1.7" stroke-linecap="round"/>)";
        case Symbol::musicNote:
            return R"(<ellipse cx="8" cy="18" rx="3.5" ry="3" fill="C"/><path d="M10 4.5L18.5 2v4.5L11.5 8.6V18h-1.5z" fill="C"/>)";
        case Symbol::musicNoteList:
            return R"(<path d="M3 5.5h11M3 10.5h11M3 15.5h7" stroke="C" stroke-width="1.8" stroke-linecap="round"/><ellipse cx="16.5" cy="18.5" rx="2.6" ry="2.2" fill="C"/><path d="M18 7.5l3.5-1v2.4L19.2 9.6V18.5H18z" fill="C"/>)";
        case Symbol::opticaldisc:
            return R"(<path fill-rule="evenodd" fill="C" d="M12 2a10 10 0 1 1 0 20a10 10 0 1 1 0-20zM12 9a3 3 0 1 1 0 6a3 3 0 1 1 0-6z"/>)";
        case Symbol::partyPopperFill:
            return R"(<path d="M3 21l4.5-12.5 8 8z" fill="C"/><circle cx="17" cy="4" r="1.2" fill="C"/><circle cx="20.5" cy="9.5" r="1.2" fill="C"/><circle cx="13" cy="3" r="1" fill="C"/><path d="M11.5 8.5c1-2.5 2.5-3.5 5-3M15.5 12.5c2.5-1 3.5-2.5 6-1.5" fill="none" stroke="C" stroke-width="1.6" stroke-linecap="round"/>)";
        case Symbol::person2Fill:
            return R"(<circle cx="16" cy="7.5" r="3" fill="C"/><path d="M11 18.5c0-3.5 2.2-6 5-6s5.5 2.5 5.5 6z" fill="C"/><circle cx="8.5" cy="8" r="3.5" fill="C"/><path d="M1.5 20c0-4 3-7 7-7s7 3 7 7z" fill="C"/>)";
        case Symbol::playFill:
            return R"(<path d="M7 4.5v15l12-7.5z" fill="C" stroke="C" stroke-width="1" stroke-linejoin="round"/>)";
        case Symbol::plus:
            return R"(<path d="M12 5v14M5 12h14" stroke="C" stroke-width="2.2" stroke-linecap="round"/>)";
        case Symbol::sdcard:
            return R"(<path d="M8.5 3H17a2 2 0 0 1 2 2v14a2 2 0 0 1-2 2H7a2 2 0 0 1-2-2V6.5z" fill="none" stroke="C" stroke-width="1.6" stroke-linejoin="round"/><path d="M9.5 6.5v3M12 6.5v3M14.5 6.5v3" stroke="C" stroke-width="1.4" stroke-linecap="round"/>)";
        case Symbol::sdcardFill:
            return R"(<path fill-rule="evenodd" fill="C" d="M8.3 2.2H17a2.2 2.2 0 0 1 2.2 2.2v15.2a2.2 2.2 0 0 1-2.2 2.2H7a2.2 2.2 0 0 1-2.2-2.2V5.7zM8.8 5.5h1.5v4H8.8zM11.3 5.5h1.5v4h-1.5zM13.8 5.5h1.5v4h-1.5z"/>)";
        case Symbol::sparkles:
            return R"(<path d="M10 5Q10.8 12.2 17 13Q10.8 13.8 10 21Q9.2 13.8 3 13Q9.2 12.2 10 5zM18 2.5Q18.4 5.6 21.5 6Q18.4 6.4 18 9.5Q17.6 6.4 14.5 6Q17.6 5.6 18 2.5z" fill="C"/>)";
        case Symbol::stopCircleFill:
            return R"(<path fill-rule="evenodd" fill="C" d="M12 2a10 10 0 1 1 0 20a10 10 0 1 1 0-20zM8.5 8.5h7v7h-7z"/>)";
        case Symbol::stopFill:
            return R"(<rect x="5.5" y="5.5" width="13" height="13" rx="2" fill="C"/>)";
        case Symbol::textMagnifyingglass:
            return R"(<path d="M3 6h12M3 10h8M3 14h5M19 18.5l3 3" fill="none" stroke="C" stroke-width="1.8" stroke-linecap="round"/><circle cx="16" cy="15.5" r="4" fill="none" stroke="C" stroke-width="1.8"/>)";
        case Symbol::trayAndArrowDownFill:
            return R"(<path d="M3 13h5l1.5 2.5h5L16 13h5v6.5a1.5 1.5 0 0 1-1.5 1.5h-15A1.5 1.5 0 0 1 3 19.5zM11 2h2v7h3l-4 4.5L8 9h3z" fill="C"/>)";
        case Symbol::xmark:
            return R"(<path d="M6 6l12 12M18 6L6 18" stroke="C" stroke-width="2.2" stroke-linecap="round"/>)";
        case Symbol::xmarkCircleFill:
            return R"(<path fill-rule="evenodd" fill="C" d="M12 2a10 10 0 1 1 0 20a10 10 0 1 1 0-20zM9.24 16.31L7.69 14.76 10.44 12 7.69 9.24 9.24 7.69 12 10.44 14.76 7.69 16.31 9.24 13.56 12 16.31 14.76 14.76 16.31 12 13.56z"/>)";
    }
    return "";
}

}  // namespace

Colour color(Palette::Name name) {
    return [name] { return Palette::color(name); };
}
Colour tone(TextStyle::Tone t) {
    return [t] { return TextStyle::toneColor(t); };
}
Colour fixed(QColor colour) {
    return [colour] { return colour; };
}

QByteArray svg(Symbol symbol, const QColor& colour) {
    QByteArray text(body(symbol));
    text.replace("\"C\"", "\"" + colour.name(QColor::HexRgb).toLatin1() + "\"");
    return R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 24 24" width="24" height="24"><g opacity=")" +
           QByteArray::number(colour.alphaF(), 'f', 3) + "\">" + text + "</g></svg>";
}

QPixmap pixmap(Symbol symbol, int size, const QColor& colour, qreal devicePixelRatio) {
    const int pixels = qRound(size * devicePixelRatio);
    QPixmap result(pixels, pixels);
    result.fill(Qt::transparent);
    QSvgRenderer renderer(svg(symbol, colour));
    QPainter painter(&result);
    renderer.render(&painter);
    painter.end();
    result.setDevicePixelRatio(devicePixelRatio);
    return result;
}

QIcon icon(Symbol symbol, int size, const QColor& colour) {
    QIcon result;
    result.addPixmap(pixmap(symbol, size, colour, 1));
    result.addPixmap(pixmap(symbol, size, colour, 2));
    QColor faded = colour;
    faded.setAlphaF(colour.alphaF() * 0.4F);
    result.addPixmap(pixmap(symbol, size, faded, 1), QIcon::Disabled);
    result.addPixmap(pixmap(symbol, size, faded, 2), QIcon::Disabled);
    return result;
}

namespace {

constexpr const char* watcherName = "iconsSymbol";

// A later `show` on the same widget replaces the earlier symbol.
void watchSymbol(QWidget* widget, std::function<void()> apply) {
    delete widget->findChild<PaletteWatcher*>(watcherName, Qt::FindDirectChildrenOnly);
    PaletteWatcher::watch(widget, std::move(apply))->setObjectName(watcherName);
}

}  // namespace

void show(QLabel* label, Symbol symbol, int size, Colour colour) {
    label->setFixedSize(size, size);
    watchSymbol(label, [label, symbol, size, colour] {
        label->setPixmap(pixmap(symbol, size, colour(), label->devicePixelRatioF()));
    });
}

void show(QAbstractButton* button, Symbol symbol, int size, Colour colour) {
    button->setIconSize(QSize(size, size));
    watchSymbol(button,
                [button, symbol, colour, size] { button->setIcon(icon(symbol, size, colour())); });
}

}  // namespace tarvik::Icons
