#include "App/Model/OwnedTasks.hpp"

#include <chrono>
#include <system_error>
#include <utility>

namespace tarvik {

std::shared_ptr<DetachedTask> OwnedTasks::start(DetachedTask::Work work) {
    std::erase_if(tasks_,
                  [](const auto& task) { return task->waitFor(std::chrono::milliseconds(0)); });
    std::shared_ptr<DetachedTask> task = DetachedTask::start(std::move(work));
    tasks_.push_back(task);
    return task;
}

std::shared_ptr<DetachedTask> OwnedTasks::tryStart(DetachedTask::Work work) {
    try {
        return start(std::move(work));
    } catch (const std::system_error&) {
        return nullptr;
    }
}

void OwnedTasks::stopAll() {
    // All are asked first, so that they stop side by side.
    for (const auto& task : tasks_) task->cancel();
    for (const auto& task : tasks_) task->wait();
    tasks_.clear();
}

}  // namespace tarvik
