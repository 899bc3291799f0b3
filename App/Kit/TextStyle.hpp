#pragma once
// Fonts and text colours of the application's views: the system font at the
// sizes and weights the views name, the callout and caption styles, the
// secondary and tertiary tones, and text in a Palette colour. Colours set here
// follow the appearance by themselves (through PaletteWatcher) and dim with a
// disabled parent. GUI thread only; never fails.
//
// Use:  TextStyle::setFont(title, 18, QFont::Bold);
//       TextStyle::setCallout(status); TextStyle::setTone(status, TextStyle::Tone::secondary);
//       TextStyle::setColor(count, Palette::Name::success);   // replaces an earlier tone or colour
#include <QColor>
#include <QFont>

#include "App/Kit/Palette.hpp"

class QLabel;
class QString;
class QWidget;

namespace tarvik::TextStyle {

// Sizes are in device-independent pixels, the unit the layouts use.
inline constexpr int calloutSize = 12;
inline constexpr int captionSize = 11;

QFont font(int pixelSize, QFont::Weight weight = QFont::Normal);
void setFont(QWidget* widget, int pixelSize, QFont::Weight weight = QFont::Normal);
void setCallout(QWidget* widget);
void setCaption(QWidget* widget);

enum class Tone { primary, secondary, tertiary };
// The window text at the tone's strength, under the application palette.
QColor toneColor(Tone tone);
void setTone(QWidget* widget, Tone tone);
void setColor(QWidget* widget, Palette::Name name);
// A label in the secondary tone, such as the name before a row's control.
QLabel* secondaryLabel(const QString& text, QWidget* parent);

}  // namespace tarvik::TextStyle
