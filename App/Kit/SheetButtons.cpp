#include "App/Kit/SheetButtons.hpp"

#include <QPushButton>

#include "App/Kit/Palette.hpp"
#include "App/Kit/PaletteWatcher.hpp"
#include "App/Kit/TextStyle.hpp"

namespace tarvik::SheetButtons {

void makeProminent(QPushButton* button) {
    button->setDefault(true);
    button->setAutoDefault(true);
    PaletteWatcher::watch(button, [button] {
        QPalette palette = button->palette();
        palette.setColor(QPalette::Button, Palette::accent());
        palette.setColor(QPalette::ButtonText, Qt::white);
        // A disabled one fades, so that it does not look ready to press.
        QColor faded = Palette::accent();
        faded.setAlphaF(0.45F);
        palette.setColor(QPalette::Disabled, QPalette::Button, faded);
        palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(255, 255, 255, 150));
        button->setPalette(palette);
    });
}

void makeDestructive(QPushButton* button) {
    button->setAutoDefault(false);
    TextStyle::setColor(button, Palette::Name::danger);
}

QPushButton* small(const QString& text, const char* name, QWidget* parent) {
    auto* button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    TextStyle::setCallout(button);
    return button;
}

}  // namespace tarvik::SheetButtons
