#pragma once
// The application's symbols, drawn here as small one-colour SVGs so that each
// can take any Palette colour or text tone and look the same on every desktop.
// The names follow the symbols the views ask for ("sdcard.fill" is
// Symbol::sdcardFill). Rendering never fails; GUI thread only.
//
// Use:  Icons::show(label, Icons::Symbol::musicNote, 15, Icons::tone(TextStyle::Tone::secondary));
//       Icons::show(button, Icons::Symbol::arrowClockwise, 14,
//       Icons::color(Palette::Name::accentText)); QIcon icon = Icons::icon(Icons::Symbol::folder,
//       16, Palette::teal());   // a fixed colour
// `show` keeps the symbol's colour following the appearance.
#include <QByteArray>
#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <functional>

#include "App/Kit/Palette.hpp"
#include "App/Kit/TextStyle.hpp"

class QAbstractButton;
class QLabel;

namespace tarvik::Icons {

enum class Symbol {
    arrowClockwise,               // "arrow.clockwise"
    arrowRight,                   // "arrow.right"
    arrowRightCircle,             // "arrow.right.circle"
    carFill,                      // "car.fill"
    checklist,                    // "checklist"
    checkmark,                    // "checkmark"
    checkmarkCircleFill,          // "checkmark.circle.fill"
    eject,                        // "eject"
    exclamationmarkTriangleFill,  // "exclamationmark.triangle.fill"
    folder,                       // "folder"
    hourglass,                    // "hourglass"
    infoCircle,                   // "info.circle"
    lightbulbFill,                // "lightbulb.fill"
    listBulletRectangle,          // "list.bullet.rectangle"
    minusCircle,                  // "minus.circle"
    musicMic,                     // "music.mic"
    musicNote,                    // "music.note"
    musicNoteList,                // "music.note.list"
    opticaldisc,                  // "opticaldisc"
    partyPopperFill,              // "party.popper.fill"
    person2Fill,                  // "person.2.fill"
    playFill,                     // "play.fill"
    plus,                         // "plus"
    sdcard,                       // "sdcard"
    sdcardFill,                   // "sdcard.fill"
    sparkles,                     // "sparkles"
    stopCircleFill,               // "stop.circle.fill"
    stopFill,                     // "stop.fill"
    textMagnifyingglass,          // "text.magnifyingglass"
    trayAndArrowDownFill,         // "tray.and.arrow.down.fill"
    xmark,                        // "xmark"
    xmarkCircleFill,              // "xmark.circle.fill"
};

using Colour = std::function<QColor()>;
Colour color(Palette::Name name);
Colour tone(TextStyle::Tone tone);
Colour fixed(QColor colour);

QByteArray svg(Symbol symbol, const QColor& colour);
// `size` in device-independent pixels, drawn sharp at `devicePixelRatio`.
QPixmap pixmap(Symbol symbol, int size, const QColor& colour, qreal devicePixelRatio = 1);
QIcon icon(Symbol symbol, int size, const QColor& colour);

void show(QLabel* label, Symbol symbol, int size, Colour colour);
void show(QAbstractButton* button, Symbol symbol, int size, Colour colour);

}  // namespace tarvik::Icons
