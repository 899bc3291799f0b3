#pragma once
// The animations flag: views animate and cards cast shadows only while
// low-load display mode is off (the setting "lowLoadManual" or the desktop's
// reduced motion). GUI thread only.
//
// Use:  if (Animations::on(model)) animation->start(); else jumpToEnd();
//       Animations::follow(this, model, [this] { updateShadow(); });
#include <functional>

class QObject;

namespace tarvik {

class AppModel;

namespace Animations {

bool on(const AppModel& model);
// Runs `changed` whenever low-load display mode may have changed, for as long
// as `receiver` lives.
void follow(QObject* receiver, AppModel& model, std::function<void()> changed);

}  // namespace Animations
}  // namespace tarvik
