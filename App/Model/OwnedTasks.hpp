#pragma once
// The background tasks one object started, each on a thread of its own: the
// owner stops them all and waits for them when it goes (or calls stopAll), so
// that none outlives what it works for; once the program is ending, no longer
// than its deadline (DetachedTask::endingBy), and a task held by a file system
// is then left to end with the process. Tasks that have ended are forgotten
// at the next start. Used on the owner's thread only; the work runs on its own
// thread, must not throw, and reaches its owner only through a queued call
// that dies with it.
#include <memory>
#include <vector>

#include "Core/Platform/DetachedTask.hpp"

namespace tarvik {

class OwnedTasks {
public:
    OwnedTasks() = default;
    ~OwnedTasks() { stopAll(); }
    OwnedTasks(const OwnedTasks&) = delete;
    OwnedTasks& operator=(const OwnedTasks&) = delete;

    // Runs `work` on a thread of its own. Throws std::system_error when the
    // system gives no thread.
    std::shared_ptr<DetachedTask> start(DetachedTask::Work work);
    // The same; null when no thread could be had and the work is skipped.
    std::shared_ptr<DetachedTask> tryStart(DetachedTask::Work work);

    // Fires every task's stop token, then waits until each has ended.
    void stopAll();

private:
    std::vector<std::shared_ptr<DetachedTask>> tasks_;  // every task not yet known to have ended
};

}  // namespace tarvik
