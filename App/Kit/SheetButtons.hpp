#pragma once
// The looks of a sheet's confirming and destructive buttons: the confirming
// one filled with the accent and white text (the default action, Return), the
// destructive one with the danger colour as its text. Both follow the
// appearance; and the small buttons of a row of controls. GUI thread only;
// never fails.
//
// Use:  SheetButtons::makeProminent(save);  SheetButtons::makeDestructive(remove);
class QPushButton;
class QString;
class QWidget;

namespace tarvik::SheetButtons {

// Also makes the button the dialog's default, so that Return presses it.
void makeProminent(QPushButton* button);
void makeDestructive(QPushButton* button);
// A button in the callout size that never presses itself on Return.
QPushButton* small(const QString& text, const char* name, QWidget* parent);

}  // namespace tarvik::SheetButtons
