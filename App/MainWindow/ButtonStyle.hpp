#pragma once
// The two button looks the views ask for beyond the desktop's plain button:
// prominent (filled with the accent, white text: the one main action of a
// place) and destructive (text and symbol in the danger colour). Both follow
// the appearance. GUI thread only; never fail.
//
// Use:  ButtonStyle::makeProminent(startButton);
//       ButtonStyle::makeDestructive(stopButton);
class QPushButton;

namespace tarvik::ButtonStyle {

void makeProminent(QPushButton* button);
void makeDestructive(QPushButton* button);

}  // namespace tarvik::ButtonStyle
