#pragma once
// Where a folder chooser opens. The chooser reads the folder it opens in on
// the window's thread, and closing it waits for its lister, which follows the
// links among the folder's entries and looks into the file systems mounted
// below it: any of them may lie on a file system that stopped answering. So
// the folder the user is to start in is asked about on a worker first, no
// longer than a deadline (FolderAnswers::chooserMayOpenIn): the chooser opens
// there once all of it answered, and otherwise in the user's home folder. One
// question at a time: a chooser asked for while one is being asked about is
// not opened, as a second click on its button. Owned by the model; GUI
// thread. Going, it stops its worker and waits for it, up to the program's
// ending deadline.
#include <filesystem>
#include <functional>

#include "App/Model/OwnedTasks.hpp"
#include "App/Model/VolumeLooks.hpp"
#include "App/Platform/GuiOutlet.hpp"
#include "App/Platform/HangGuard.hpp"

namespace tarvik {

class ChooserStarts {
public:
    using Open = std::function<void(const std::filesystem::path& start)>;

    // The answers come through `outlet`, which its owner closes before it goes.
    explicit ChooserStarts(GuiOutlet outlet) : outlet_(std::move(outlet)) {}

    // Runs `open` on the GUI thread with the folder the chooser is to open
    // in: `wanted` once it answered, the home folder when it did not in time
    // or is no folder; at once for an empty `wanted`, which asks nothing.
    void ask(const std::filesystem::path& wanted, Open open);

    // The folder every chooser may open in: the user's home.
    static std::filesystem::path home();

private:
    GuiOutlet outlet_;
    // The whole look at a folder: the window shows the chooser within a second.
    HangGuard guard_{VolumeLooks::defaultDeadline};
    bool asking_ = false;
    // Last, so that it goes first: the worker is stopped before the rest.
    OwnedTasks tasks_;
};

}  // namespace tarvik
