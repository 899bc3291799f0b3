#include "Core/Platform/DetachedTask.hpp"

#include <thread>
#include <utility>

namespace tarvik {

std::shared_ptr<DetachedTask> DetachedTask::start(Work work) {
    std::shared_ptr<DetachedTask> task(new DetachedTask());
    std::thread([task, work = std::move(work)]() mutable {
        {
            // Moved into this scope so that whatever the work captured is
            // released before the task counts as ended.
            Work local = std::move(work);
            local(task->stop_.get_token());
        }
        task->markEnded();
    }).detach();
    return task;
}

void DetachedTask::wait() const {
    std::unique_lock lock(mutex_);
    endedChanged_.wait(lock, [this] { return ended_; });
}

bool DetachedTask::waitFor(std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return endedChanged_.wait_for(lock, timeout, [this] { return ended_; });
}

void DetachedTask::markEnded() {
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
    }
    endedChanged_.notify_all();
}

}  // namespace tarvik
