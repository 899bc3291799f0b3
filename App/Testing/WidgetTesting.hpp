#pragma once
// Helpers for the widget tests: a model on temporary settings with fixture
// volumes, and a scope that puts the desktop's appearance back afterwards.
// Header-only, so that only the widget tests pull in the model and the kit.
#include <memory>
#include <utility>

#include <QApplication>
#include <QEvent>
#include <QWidget>

#include "App/MainWindow/Appearance.hpp"
#include "App/Model/AppModel.hpp"
#include "App/Model/AppModelTesting.hpp"
#include "App/Testing/AppTesting.hpp"
#include "App/Testing/FixtureVolumes.hpp"

namespace tarvik::testing {

// A model on private settings with fixture volumes; `before` runs on the
// settings before the model reads them.
struct ModelFixture {
    ScopedXdg xdg;
    std::shared_ptr<FixtureVolumes> volumes = std::make_shared<FixtureVolumes>();
    std::unique_ptr<AppModel> model;

    explicit ModelFixture(const std::function<void(Settings&)>& before = {}) {
        AppModel::Services services = AppModelTesting::services(xdg);
        if (before) before(*services.settings);
        services.volumes = volumes;
        model = std::make_unique<AppModel>(std::move(services));
    }
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

}  // namespace tarvik::testing
