#pragma once
// Helpers for the widget tests: a model on temporary settings with fixture
// volumes, named children, and the light and dark appearance for screenshots.
// Header-only, so that only the widget tests pull in the model and the kit.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <QWidget>
#include <QWindow>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "App/Kit/Appearance.hpp"
#include "App/Kit/Dialogs.hpp"
#include "App/Kit/ElidedLabel.hpp"
#include "App/Model/AppModel.hpp"
#include "App/Model/AppModelTesting.hpp"
#include "App/Testing/AppTesting.hpp"
#include "App/Testing/FixtureVolumes.hpp"
#include "Core/Testing/TempDir.hpp"

// Qt's entry for input from the window system, part of its platform
// interface, which this Qt's public headers leave out (QTest declares its
// mouse and key entries the same way). A wheel delivered through it is
// spontaneous, as a user's is: only such a wheel moves the focus to a widget
// whose policy takes focus by wheel, and only it passes an ignored wheel on
// to the widgets below.
class QWindowSystemInterface {
public:
    static bool handleWheelEvent(QWindow* window, const QPointF& local, const QPointF& global,
                                 QPoint pixelDelta, QPoint angleDelta, Qt::KeyboardModifiers mods,
                                 Qt::ScrollPhase phase, Qt::MouseEventSource source);
};

namespace tarvik::testing {

// A model on private settings with fixture volumes; `before` runs on the
// settings before the model reads them, `adjust` on the rest of its services.
// Only with `withFFmpeg` does the model find the system's ffmpeg, for the
// tests that really convert.
struct ModelFixture {
    ScopedXdg xdg;
    std::shared_ptr<FixtureVolumes> volumes = std::make_shared<FixtureVolumes>();
    std::unique_ptr<AppModel> model;

    explicit ModelFixture(const std::function<void(Settings&)>& before = {},
                          bool withFFmpeg = false,
                          const std::function<void(AppModel::Services&)>& adjust = {}) {
        AppModel::Services services = AppModelTesting::services(xdg);
        if (before) before(*services.settings);
        services.volumes = volumes;
        if (withFFmpeg)
            services.locateFFmpeg = [] {
                return std::optional<std::filesystem::path>("/usr/bin/ffmpeg");
            };
        if (adjust) adjust(services);
        model = std::make_unique<AppModel>(std::move(services));
        EXPECT_TRUE(settle(*model));
    }
    // Mounts, unmounts, choices and the model's own questions, answered.
    void settled() const { EXPECT_TRUE(settle(*model)); }
};

// Applies an appearance and tells every widget, as a running application
// does: without QApplication::exec() Qt leaves that out.
inline void switchAppearance(Appearance::Mode mode) {
    Appearance::apply(mode);
    for (QWidget* widget : QApplication::allWidgets()) {
        QEvent changed(QEvent::ApplicationPaletteChange);
        QCoreApplication::sendEvent(widget, &changed);
    }
}

// Tests that change the appearance leave the desktop's behind them.
struct AppearanceScope {
    ~AppearanceScope() { switchAppearance(Appearance::Mode::desktop); }
};

// Runs `shoot` in the light and then the dark appearance with the suffix
// "light" or "dark", and puts the desktop's appearance back afterwards.
inline void inLightAndDark(const std::function<void(const std::string& suffix)>& shoot) {
    AppearanceScope scope;
    for (const auto& [mode, suffix] :
         {std::pair{Appearance::Mode::light, "light"}, std::pair{Appearance::Mode::dark, "dark"}}) {
        switchAppearance(mode);
        QTest::qWait(50);  // the repaint after the palette change
        shoot(suffix);
    }
}

// Whether `widget` lies within each of its parents up to `root` from side to
// side, so that none of them cuts it off (above and below, a scrolling column
// may hide it).
inline bool insideSideways(const QWidget& widget, const QWidget& root) {
    QRect rect = widget.rect();
    for (const QWidget* at = &widget; at != &root && at->parentWidget() != nullptr;) {
        rect.translate(at->pos());
        at = at->parentWidget();
        if (rect.left() < 0 || rect.right() >= at->width()) return false;
    }
    return true;
}

// Every text under `root` fits its place: one-line labels are as wide as they
// need, wrapped ones as tall, buttons as wide as their text, none of them, of
// the pickers or of the scroll bars lies partly beyond a parent's side, and no
// scroll area has had to scroll sideways. Elided labels and pictures may be
// narrower.
inline void expectNothingClipped(QWidget& root, const std::string& name) {
    for (QScrollArea* area : root.findChildren<QScrollArea*>()) {
        if (!area->isVisibleTo(&root)) continue;
        EXPECT_FALSE(area->horizontalScrollBar()->isVisible()) << name;
    }
    for (QWidget* widget : root.findChildren<QWidget*>()) {
        const bool shown = qobject_cast<QLabel*>(widget) != nullptr ||
                           qobject_cast<QAbstractButton*>(widget) != nullptr ||
                           qobject_cast<QComboBox*>(widget) != nullptr ||
                           qobject_cast<QScrollBar*>(widget) != nullptr;
        if (!shown || !widget->isVisibleTo(&root)) continue;
        EXPECT_TRUE(insideSideways(*widget, root))
            << name << ": " << widget->objectName().toStdString() << " at "
            << widget->mapTo(&root, QPoint()).x() << " of " << widget->width();
    }
    for (QLabel* label : root.findChildren<QLabel*>()) {
        if (!label->isVisibleTo(&root) || qobject_cast<ElidedLabel*>(label) != nullptr ||
            !label->pixmap().isNull())
            continue;
        const bool fits = label->wordWrap()
                              ? label->height() >= label->heightForWidth(label->width())
                              : label->width() >= label->sizeHint().width();
        EXPECT_TRUE(fits) << name << ": " << label->text().toStdString() << " " << label->width()
                          << "x" << label->height();
    }
    for (QAbstractButton* button : root.findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(&root)) continue;
        EXPECT_GE(button->width(), button->sizeHint().width())
            << name << ": " << button->text().toStdString();
    }
}

// The child of `parent` by its object name; a missing one fails the test.
template <typename T = QWidget>
T* child(const QObject& parent, const char* name) {
    T* found = parent.findChild<T*>(name);
    EXPECT_NE(found, nullptr) << name;
    return found;
}

inline std::string labelText(const QObject& parent, const char* name) {
    const QLabel* label = child<QLabel>(parent, name);
    return label != nullptr ? label->text().toStdString() : std::string();
}

inline bool shown(QWidget& parent, const char* name) {
    const QWidget* widget = child(parent, name);
    return widget != nullptr && widget->isVisibleTo(&parent);
}

// Each named child of `parent` is visible in it, or not, as listed.
inline void expectShown(QWidget& parent,
                        std::initializer_list<std::pair<const char*, bool>> children) {
    for (const auto& [name, visible] : children) EXPECT_EQ(shown(parent, name), visible) << name;
}

// The user's choice of the item with this data, or else this text, in a picker.
inline void choose(QComboBox& picker, const QString& item) {
    const int index = picker.findData(item) >= 0 ? picker.findData(item) : picker.findText(item);
    ASSERT_GE(index, 0) << item.toStdString();
    picker.setCurrentIndex(index);
    emit picker.activated(index);
}

// Turns the mouse wheel by `notch` (120 a notch) over the middle of `widget`,
// scrolled into view first, as the user's wheel comes from the desktop.
inline void turnWheelOver(QWidget& widget, int notch) {
    for (QWidget* up = widget.parentWidget(); up != nullptr; up = up->parentWidget())
        if (auto* area = qobject_cast<QScrollArea*>(up)) area->ensureWidgetVisible(&widget);
    QApplication::processEvents();
    QWidget* top = widget.window();
    QWindow* window = top->windowHandle();
    ASSERT_NE(window, nullptr) << "the window is not shown";
    const QPointF local = widget.mapTo(top, QRectF(widget.rect()).center());
    QWindowSystemInterface::handleWheelEvent(window, local, top->mapToGlobal(local), {}, {0, notch},
                                             Qt::NoModifier, Qt::NoScrollPhase,
                                             Qt::MouseEventNotSynthesized);
    QApplication::processEvents();
}

// Turns the mouse wheel one notch each way over every picker in `parent`, as
// a user scrolling the window past them does: none may change, and none may
// take the focus (or the keys meant for the window would change it next).
// Only a click or Tab gives a picker the focus.
inline void expectWheelLeavesPickers(QWidget& parent) {
    const QList<QComboBox*> pickers = parent.findChildren<QComboBox*>();
    EXPECT_FALSE(pickers.isEmpty());
    for (QComboBox* picker : pickers) {
        if (!picker->isVisibleTo(&parent)) continue;
        const int before = picker->currentIndex();
        for (int notch : {-120, 120}) {
            turnWheelOver(*picker, notch);
            const std::string name = picker->objectName().toStdString();
            EXPECT_EQ(picker->currentIndex(), before) << name;
            EXPECT_NE(picker->window()->focusWidget(), picker) << name;
        }
    }
}

// Minimises the window and restores it, as the desktop does: the window's
// show on the way back is a spontaneous one.
inline void minimiseAndRestore(QWidget& window) {
    window.setWindowState(Qt::WindowMinimized);
    QApplication::processEvents();
    window.setWindowState(Qt::WindowNoState);
    QApplication::processEvents();
}

inline void click(const QObject& parent, const char* name) {
    if (auto* button = child<QAbstractButton>(parent, name))
        QTest::mouseClick(button, Qt::LeftButton);
}

// Clicks a folder chooser's button and waits until `script` was asked for the
// chooser: it opens once a worker has found where it may open.
inline bool clickChooser(const QObject& parent, const char* name, const Dialogs::Script& script) {
    const std::size_t before = script.folderRequests().size();
    click(parent, name);
    return waitUntil([&] { return script.folderRequests().size() > before; });
}

}  // namespace tarvik::testing
