#pragma once
// The "ライブラリ" menu's card cleaning: the user picks a card (or any folder),
// it is cleaned on the spot while the window waits, and an alert says what was
// deleted and renamed. Unlike the automatic cleaning it asks nothing of the
// run or the send window: it cleans what the user chose. The chooser and the
// alert come in as functions, so the menu hands in the dialog wrapper and
// tests answer them. GUI thread.
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace tarvik {

class AppModel;

struct CleanDialogs {
    // The folder chosen, nothing when the user cancelled.
    std::function<std::optional<std::filesystem::path>(const std::string& message,
                                                       const std::filesystem::path& start)>
        chooseFolder;
    // An alert with one button, `informative` under `message`.
    std::function<void(const std::string& message, const std::string& informative)> inform;
};

void cleanCardInteractive(const AppModel& model, const CleanDialogs& dialogs);

}  // namespace tarvik
