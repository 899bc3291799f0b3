#pragma once
// Dark or light, as the hidden setting "appearance" asks: "dark" gives the
// Fusion style with a dark palette, any other value Fusion with a light one,
// no value leaves the desktop's style and palette alone (a dark desktop theme
// then gives the dark Palette colours too). Also makes Japanese text use the
// system's Noto Sans CJK JP wherever the main font lacks the characters.
// Called once at start-up, before the first window, on the GUI thread.
//
// Use:  Appearance::apply(Appearance::modeFor(model.appearance()));
#include <QPalette>
#include <optional>
#include <string>

namespace tarvik::Appearance {

enum class Mode { desktop, dark, light };

Mode modeFor(const std::optional<std::string>& setting);
QPalette darkPalette();
QPalette lightPalette();
// Sets the application's style, palette and font; `desktop` after `dark` or
// `light` puts back what the desktop gave.
void apply(Mode mode);

}  // namespace tarvik::Appearance
