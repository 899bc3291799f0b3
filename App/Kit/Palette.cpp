#include "App/Kit/Palette.hpp"

#include <QGuiApplication>

namespace tarvik {

Palette::Pair Palette::pair(Name name) {
    switch (name) {
        case Name::accent:
            return {{0.15, 0.5, 0.6}, {0.11, 0.42, 0.5}};
        case Name::accentText:
            return {{0.45, 0.76, 0.84}, {0.09, 0.36, 0.44}};
        case Name::accentSoft:
            return {{0.17, 0.24, 0.28}, {0.88, 0.93, 0.95}};
        case Name::orange:
            return {{0.96, 0.68, 0.42}, {0.65, 0.35, 0.1}};
        case Name::windowBackground:
            return {{0.11, 0.11, 0.13}, {0.96, 0.955, 0.94}};
        case Name::cardFill:
            return {{0.16, 0.16, 0.18}, {1, 1, 1}};
        case Name::cardBorder:
            return {{0.27, 0.27, 0.3}, {0.86, 0.85, 0.83}};
        case Name::stripe:
            return {{0.19, 0.19, 0.21}, {0.965, 0.962, 0.958}};
        case Name::success:
            return {{0.45, 0.78, 0.6}, {0.16, 0.5, 0.36}};
        case Name::warning:
            return {{0.95, 0.72, 0.35}, {0.62, 0.4, 0.05}};
        case Name::danger:
            return {{1.0, 0.5, 0.46}, {0.75, 0.2, 0.18}};
    }
    return {};
}

bool Palette::isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() <
           palette.color(QPalette::WindowText).lightness();
}

QColor Palette::color(Name name, const QPalette& palette) {
    const Pair p = pair(name);
    const Triple& t = isDark(palette) ? p.dark : p.light;
    return QColor::fromRgbF(static_cast<float>(t.r), static_cast<float>(t.g),
                            static_cast<float>(t.b), 1.0F);
}

QColor Palette::color(Name name) {
    return color(name, QGuiApplication::palette());
}

}  // namespace tarvik
