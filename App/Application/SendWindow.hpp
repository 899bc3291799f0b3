#pragma once
// The send window: the single top-level window "SD カードへ送る" that copies
// albums already exported onto a card. The application creates it on first
// request and keeps it; its content gets a close action that hides the
// window, and the title bar cannot close it while a send runs. The window is
// owned by the caller (a top-level window has no parent). GUI thread only.
#include <QWidget>

#include "App/Windows/SendToSDState.hpp"

namespace tarvik {

class AppModel;

namespace SendWindow {

inline constexpr const char* title = "SD カードへ送る";

// `tools` for tests that stand in the card tools.
QWidget* create(AppModel& model, SendToSDState::Tools tools = SendToSDState::Tools::standard());

}  // namespace SendWindow
}  // namespace tarvik
