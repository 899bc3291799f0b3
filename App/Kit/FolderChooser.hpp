#pragma once
// The folder chooser of every window: it opens in the folder the user is to
// start in only once the model found that folder's file systems answering,
// and otherwise in the home folder (ChooserStarts), so that a click on a
// chooser's button is answered within a second whatever a drive does. The
// chooser itself goes through Dialogs, which tests answer. GUI thread; never
// fails.
#include <filesystem>
#include <functional>

#include "App/Kit/Dialogs.hpp"

class QWidget;

namespace tarvik {

class AppModel;

namespace FolderChooser {

// Opens the chooser of `request`, whose start is the folder wanted, over
// `parent`, and hands `chosen` the folder the user chose; nothing happens
// when the user cancels or `parent` went meanwhile.
void open(QWidget* parent, AppModel& model, Dialogs::FolderRequest request,
          std::function<void(const std::filesystem::path& folder)> chosen);

}  // namespace FolderChooser
}  // namespace tarvik
