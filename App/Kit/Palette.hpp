#pragma once
// The application's eleven named colours, each a dark and a light sRGB triple,
// resolved against the application palette every time they are asked for: a
// widget that asks in its paintEvent (or restyles through PaletteWatcher)
// follows a change of appearance while the window is open. The review sheet,
// the welcome sheet, the profile editor and the send window know some of the
// same colours under a second name (highlight, teal, panel, card, border).
// GUI thread only; never fails.
//
// Use:  painter.setBrush(Palette::accent());
//       label text: TextStyle::setColor(label, Palette::Name::success)
//       striped table rows: painter.fillRect(r, Palette::rowFill(row))
#include <QColor>
#include <QPalette>

namespace tarvik {

class Palette {
public:
    enum class Name {
        accent,            // filled accents: highlighted card outline, progress fill, active badge
        accentText,        // accent symbols and text
        accentSoft,        // pale accent backgrounds: pill, emblem, notice panels
        orange,            // finished without failures, tips
        windowBackground,  // FunBackground only
        cardFill,          // card surface, even table rows
        cardBorder,        // card outline, progress track, inactive badge ring
        stripe,            // odd table rows
        success,
        warning,
        danger,
        // The names the secondary windows use for the same colours.
        highlight = accent,
        teal = accentText,
        panel = accentSoft,
        card = cardFill,
        border = cardBorder,
    };

    struct Triple {
        double r, g, b;
    };
    struct Pair {
        Triple dark;
        Triple light;
    };

    static Pair pair(Name name);
    // The appearance a palette stands for: dark when its window is darker than
    // its window text (a desktop theme or Appearance's own palettes alike).
    static bool isDark(const QPalette& palette);
    // The colour under `palette`'s appearance, or the application palette's.
    static QColor color(Name name, const QPalette& palette);
    static QColor color(Name name);

    static QColor accent() { return color(Name::accent); }
    static QColor accentText() { return color(Name::accentText); }
    static QColor accentSoft() { return color(Name::accentSoft); }
    static QColor orange() { return color(Name::orange); }
    static QColor windowBackground() { return color(Name::windowBackground); }
    static QColor cardFill() { return color(Name::cardFill); }
    static QColor cardBorder() { return color(Name::cardBorder); }
    static QColor stripe() { return color(Name::stripe); }
    static QColor success() { return color(Name::success); }
    static QColor warning() { return color(Name::warning); }
    static QColor danger() { return color(Name::danger); }

    // The same colours under the names the secondary windows use.
    static QColor highlight() { return accent(); }
    static QColor teal() { return accentText(); }
    static QColor panel() { return accentSoft(); }
    static QColor card() { return cardFill(); }
    static QColor border() { return cardBorder(); }

    // Striped tables: even rows (from 0) on the card fill, odd rows on the stripe.
    static QColor rowFill(int row) { return row % 2 == 0 ? cardFill() : stripe(); }
};

}  // namespace tarvik
