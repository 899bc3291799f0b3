#include "App/Kit/Dialogs.hpp"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>
#include <QUrl>
#include <algorithm>

#include "App/Kit/QtText.hpp"

namespace tarvik::Dialogs {

namespace {

Script* active = nullptr;

// The widest the smaller text of a message box grows before it wraps.
constexpr int informativeWidthLimit = 400;

// A chooser hands back text, and Qt reads a file name that is not UTF-8 with
// U+FFFD in place of its bytes: such a path names no folder, or another one.
// It is refused rather than stored.
std::optional<std::filesystem::path> fromChooser(QWidget* parent, const QString& chosen) {
    if (chosen.contains(QChar::ReplacementCharacter)) {
        show(parent, {.kind = Message::Kind::warning,
                      .text = std::string(unreadableName),
                      .informative = chosen.toStdString()});
        return std::nullopt;
    }
    const QByteArray bytes = QFile::encodeName(chosen);
    return std::filesystem::path(std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

// Qt's own chooser, made, first goes back to the folder where the last one
// was left (the last of this process, or as Qt's settings keep it for every
// Qt program) and reads it on this thread, before the folder it is made for:
// a folder that may lie on a drive that has stopped answering since. Each of
// ours is left in the home folder, which Qt's settings then keep too.
class HomeLeavingChooser final : public QFileDialog {
public:
    HomeLeavingChooser(QWidget* parent, const QString& caption, const QString& start)
        : QFileDialog(parent, caption, start) {}
    ~HomeLeavingChooser() override { setDirectory(QDir::homePath()); }
    HomeLeavingChooser(const HomeLeavingChooser&) = delete;
    HomeLeavingChooser& operator=(const HomeLeavingChooser&) = delete;
};

// The first chooser of the process reads where Qt's settings say the last
// one was left, by whichever Qt program.
void leaveQtsChooserAtHome() {
    QSettings settings(QSettings::UserScope, QStringLiteral("QtProject"));
    settings.setValue(QStringLiteral("FileDialog/lastVisited"),
                      QUrl::fromLocalFile(QDir::homePath()).toString());
}

}  // namespace

Script::Script() {
    active = this;
}
Script::~Script() {
    active = nullptr;
}

void Script::answerFolder(std::optional<std::filesystem::path> folder) {
    folderAnswers_.push_back(std::move(folder));
}

std::optional<std::filesystem::path> chooseFolder(QWidget* parent, const FolderRequest& request) {
    if (active != nullptr) {
        folderDialog(parent, request).reset();
        active->folderRequests_.push_back(request);
        if (active->folderAnswers_.empty()) return std::nullopt;
        auto answer = std::move(active->folderAnswers_.front());
        active->folderAnswers_.pop_front();
        if (!answer) return std::nullopt;
        // The answer comes as text, as the real chooser's does.
        return fromChooser(parent, QFile::decodeName(QByteArray::fromStdString(answer->native())));
    }
    const std::unique_ptr<QFileDialog> dialog = folderDialog(parent, request);
    if (dialog->exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog->selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    return fromChooser(parent, chosen.front());
}

std::unique_ptr<QFileDialog> folderDialog(QWidget* parent, const FolderRequest& request) {
    const QString start =
        request.start.empty()
            ? QDir::homePath()
            : QFile::decodeName(QByteArray::fromStdString(request.start.native()));
    leaveQtsChooserAtHome();
    auto dialog = std::make_unique<HomeLeavingChooser>(parent, qt(request.message), start);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly, true);
    dialog->setOption(QFileDialog::ReadOnly, !request.canCreateFolders);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    return dialog;
}

void show(QWidget* parent, const Message& message) {
    if (active != nullptr) {
        active->messages_.push_back(message);
        return;
    }
    messageBox(parent, message)->exec();
}

std::unique_ptr<QMessageBox> messageBox(QWidget* parent, const Message& message) {
    auto box = std::make_unique<QMessageBox>(parent);
    switch (message.kind) {
        case Message::Kind::information:
            box->setIcon(QMessageBox::Information);
            break;
        case Message::Kind::warning:
            box->setIcon(QMessageBox::Warning);
            break;
        case Message::Kind::critical:
            box->setIcon(QMessageBox::Critical);
            break;
    }
    box->setText(qt(message.text));
    box->setInformativeText(qt(message.informative));
    box->setStandardButtons(QMessageBox::Ok);
    // What a message names (a folder, a cause) can be copied out of it.
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (auto* informative = box->findChild<QLabel*>("qt_msgbox_informativelabel")) {
        informative->setTextInteractionFlags(Qt::TextSelectableByMouse);
        // Each line keeps to one line where the box has room: a path, which has
        // no place to break, is never cut at the box's side.
        int widest = 0;
        for (const QString& line : informative->text().split('\n'))
            widest = std::max(widest, informative->fontMetrics().horizontalAdvance(line));
        informative->setMinimumWidth(std::min(widest, informativeWidthLimit));
    }
    return box;
}

}  // namespace tarvik::Dialogs
