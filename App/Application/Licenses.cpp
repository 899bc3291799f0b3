#include "App/Application/Licenses.hpp"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QUrl>

namespace tarvik::Licenses {

namespace {

bool showInFileManager(const std::filesystem::path& item) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return false;
    QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                                       "/org/freedesktop/FileManager1",
                                                       "org.freedesktop.FileManager1", "ShowItems");
    const QString uri = QUrl::fromLocalFile(QString::fromStdString(item.string())).toString();
    call << QStringList{uri} << QString();
    // Short: without a file manager the bus answers at once; a hung one must not freeze the menu.
    const QDBusMessage reply = bus.call(call, QDBus::Block, 3000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

bool openInDesktop(const std::filesystem::path& folder) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder.string())));
}

}  // namespace

Desktop Desktop::standard() {
    return {.showItem = showInFileManager, .openFolder = openInDesktop};
}

std::optional<std::filesystem::path> itemToReveal(
    const std::optional<std::filesystem::path>& resources) {
    if (!resources) return std::nullopt;
    const std::filesystem::path folder = *resources / folderName;
    const std::filesystem::path file = folder / fileName;
    std::error_code error;
    return std::filesystem::exists(file, error) ? file : folder;
}

std::optional<std::filesystem::path> reveal(const std::optional<std::filesystem::path>& resources,
                                            const Desktop& desktop) {
    const std::optional<std::filesystem::path> item = itemToReveal(resources);
    if (!item) return std::nullopt;
    if (desktop.showItem(*item)) return std::nullopt;
    std::error_code error;
    const std::filesystem::path folder =
        std::filesystem::is_directory(*item, error) ? *item : item->parent_path();
    if (desktop.openFolder(folder)) return std::nullopt;
    return folder;
}

std::string notOpenedDetail(const std::filesystem::path& folder) {
    return "ファイルマネージャで開いてください:\n" + folder.string();
}

}  // namespace tarvik::Licenses
