#include "App/Model/ChooserStarts.hpp"

#include <QDir>
#include <QFile>

#include "App/Platform/FolderAnswers.hpp"

namespace tarvik {

std::filesystem::path ChooserStarts::home() {
    // From the environment alone: nothing is asked of the folder.
    const QByteArray bytes = QFile::encodeName(QDir::homePath());
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

void ChooserStarts::ask(const std::filesystem::path& wanted, Open open) {
    if (asking_) return;
    if (wanted.empty()) return open(home());
    asking_ = true;
    auto work = [this, outlet = outlet_, guard = guard_, wanted, fallback = home(),
                 open](std::stop_token stop) {
        const auto question = [wanted] {
            const auto mounts = SystemVolumeFacts{}.mounts();
            return FolderAnswers::chooserMayOpenIn(wanted,
                                                   mounts.value_or(std::vector<MountEntry>{}));
        };
        const bool answered = guard.ask<bool>(wanted.native(), question, stop).value_or(false);
        if (stop.stop_requested()) return;  // the owner is going
        // Posted to the owner, which holds this object for as long as it lives.
        outlet.post([this, open, start = answered ? wanted : fallback] {
            asking_ = false;
            open(start);
        });
    };
    if (tasks_.tryStart(std::move(work))) return;
    // No thread to be had: nothing is known of the folder.
    asking_ = false;
    open(home());
}

}  // namespace tarvik
