#pragma once
// Rounds the corners of a rectangular widget that cannot clip its own children
// (a table, a text box with scroll bars): an overlay, transparent to the
// mouse, that paints the area outside a rounded rectangle in the colour of
// what lies around it, and may stroke the outline. It follows its target's
// size and stays on top. A child of the target; GUI thread only.
//
// Use:  RoundedCorners::apply(box, 6, [] { return Palette::card(); });
//       RoundedCorners::apply(table, 8, [] { return Palette::windowBackground(); },
//                             [] { return Palette::border(); });
#include <QColor>
#include <functional>

class QWidget;

namespace tarvik::RoundedCorners {

using Colour = std::function<QColor()>;

// `outline` empty: no stroke.
void apply(QWidget* target, int radius, Colour around, Colour outline = {});

}  // namespace tarvik::RoundedCorners
