#include "App/Model/CardCleaningMenu.hpp"

#include "App/Model/AppModel.hpp"
#include "App/Model/VolumeList.hpp"
#include "App/Platform/AppPaths.hpp"
#include "Core/SDCard/CardCleaning.hpp"

namespace tarvik {

void cleanCardInteractive(const AppModel& model, const CleanDialogs& dialogs) {
    const std::string dest = model.destPath();
    const std::optional<std::filesystem::path> chosen = dialogs.chooseFolder(
        "掃除する SD カード（またはフォルダ）を選んでください。"
        "「._名前」「.DS_Store」を消し、カーナビが読めない名前を直します",
        dest.empty() ? AppPaths::mediaFolder() : std::filesystem::path(dest));
    if (!chosen || chosen->empty()) return;
    const SDCardTools::CleanResult result = SDCardTools::clean(interactiveCleanRoot(*chosen), {});
    dialogs.inform("掃除しました", cleanAlertText(result));
}

}  // namespace tarvik
