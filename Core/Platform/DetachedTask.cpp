#include "Core/Platform/DetachedTask.hpp"

#include <thread>
#include <utility>

namespace tarvik {

std::shared_ptr<DetachedTask> DetachedTask::start(Work work) {
    std::shared_ptr<DetachedTask> task(new DetachedTask());
    // The thread lets go of its task once the work is done, so the task may
    // go while its thread still exits; the thread itself is kept in the
    // task, to be joined by whoever waits.
    std::thread thread([task, work = std::move(work)]() mutable {
        {
            // Moved into this scope so that whatever the work captured is
            // released before the task counts as ended.
            Work local = std::move(work);
            local(task->stop_.get_token());
        }
        task->markEnded();
        task.reset();
    });
    std::lock_guard lock(task->joining_);
    task->thread_ = std::move(thread);
    return task;
}

DetachedTask::~DetachedTask() {
    std::lock_guard lock(joining_);
    if (thread_.joinable()) thread_.detach();
}

void DetachedTask::wait() const {
    {
        std::unique_lock lock(mutex_);
        endedChanged_.wait(lock, [this] { return ended_; });
    }
    join();
}

bool DetachedTask::waitFor(std::chrono::milliseconds timeout) const {
    {
        std::unique_lock lock(mutex_);
        if (!endedChanged_.wait_for(lock, timeout, [this] { return ended_; })) return false;
    }
    join();
    return true;
}

void DetachedTask::join() const {
    std::lock_guard lock(joining_);
    // Never the thread itself, which cannot join itself.
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void DetachedTask::markEnded() {
    {
        std::lock_guard lock(mutex_);
        ended_ = true;
    }
    endedChanged_.notify_all();
}

}  // namespace tarvik
