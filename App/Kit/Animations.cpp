#include "App/Kit/Animations.hpp"

#include "App/Model/AppModel.hpp"

namespace tarvik::Animations {

bool on(const AppModel& model) {
    return !model.lowLoad();
}

void follow(QObject* receiver, AppModel& model, std::function<void()> changed) {
    // "lowLoadManual" is announced with the other settings.
    QObject::connect(&model, &AppModel::settingsChanged, receiver, changed);
    QObject::connect(&model, &AppModel::systemLowLoadChanged, receiver, changed);
}

}  // namespace tarvik::Animations
