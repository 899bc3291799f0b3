#include "App/Kit/FolderChooser.hpp"

#include <QPointer>
#include <QWidget>

#include "App/Model/AppModel.hpp"

namespace tarvik::FolderChooser {

void open(QWidget* parent, AppModel& model, Dialogs::FolderRequest request,
          std::function<void(const std::filesystem::path&)> chosen) {
    const std::filesystem::path wanted = request.start;
    model.whereToChoose(wanted, [parent = QPointer<QWidget>(parent), request = std::move(request),
                                 chosen = std::move(chosen)](const std::filesystem::path& start) {
        if (!parent) return;
        Dialogs::FolderRequest asked = request;
        asked.start = start;
        const std::optional<std::filesystem::path> folder = Dialogs::chooseFolder(parent, asked);
        if (folder && parent) chosen(*folder);
    });
}

}  // namespace tarvik::FolderChooser
