#include "App/MainWindow/ButtonStyle.hpp"

#include <QPushButton>

#include "App/MainWindow/Palette.hpp"
#include "App/MainWindow/PaletteWatcher.hpp"
#include "App/MainWindow/TextStyle.hpp"

namespace tarvik::ButtonStyle {

void makeProminent(QPushButton* button) {
    PaletteWatcher::watch(button, [button] {
        QPalette palette = button->palette();
        const QColor fill = Palette::accent();
        QColor faded = fill;
        faded.setAlphaF(0.45F);
        palette.setColor(QPalette::Active, QPalette::Button, fill);
        palette.setColor(QPalette::Inactive, QPalette::Button, fill);
        palette.setColor(QPalette::Disabled, QPalette::Button, faded);
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
            palette.setColor(group, QPalette::ButtonText, Qt::white);
        palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(255, 255, 255, 150));
        button->setPalette(palette);
    });
}

void makeDestructive(QPushButton* button) { TextStyle::setColor(button, Palette::Name::danger); }

}  // namespace tarvik::ButtonStyle
