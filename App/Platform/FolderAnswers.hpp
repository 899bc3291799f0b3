#pragma once
// Questions that read folders the way a person's file chooser does, to learn
// whether their file systems answer: whether anything is at a path, and
// whether a chooser may open in a folder without being held. They ask the
// file systems and so wait for as long as one does not answer: callers ask
// them on a worker through a HangGuard, never on the GUI thread. Plain
// functions; any thread; never fail.
#include <filesystem>
#include <vector>

#include "Core/Platform/VolumeFacts.hpp"

namespace tarvik::FolderAnswers {

// Whether anything is at `path`. A folder is opened and read too: the kernel
// answers for a name it still remembers even while the folder's file system
// does not, and only the reading tells.
bool there(const std::filesystem::path& path);

// Whether `folder` is a folder a chooser may open in. The chooser reads the
// folder on the window's thread, and its lister follows each link among the
// folder's entries and looks into each file system mounted below it, which
// closing the chooser waits for. So all of that is read here first; whatever
// a link or a mount answers (a link may lead nowhere), it answered.
// `mounts`: the mount table.
bool chooserMayOpenIn(const std::filesystem::path& folder, const std::vector<MountEntry>& mounts);

}  // namespace tarvik::FolderAnswers
