// Work on a thread of its own that no owner has to join: the thread holds
// everything the work needs, so dropping every pointer to the task neither
// stops the work nor waits for it. cancel() fires the work's stop token and
// may be called from any thread, any number of times; wait() blocks until the
// work has returned and everything it held has been released. Starting throws
// std::system_error when the system can make no thread; the work itself must
// not throw.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>

namespace tarvik {

class DetachedTask {
public:
    using Work = std::function<void(std::stop_token)>;

    static std::shared_ptr<DetachedTask> start(Work work);

    DetachedTask(const DetachedTask&) = delete;
    DetachedTask& operator=(const DetachedTask&) = delete;

    void cancel() { stop_.request_stop(); }
    bool isCancelled() const { return stop_.stop_requested(); }

    // Blocks until the work and all it captured are gone.
    void wait() const;
    // As wait, for at most `timeout`; false when the work still runs.
    bool waitFor(std::chrono::milliseconds timeout) const;

private:
    DetachedTask() = default;
    void markEnded();

    std::stop_source stop_;
    mutable std::mutex mutex_;  // guards ended_
    mutable std::condition_variable endedChanged_;
    bool ended_ = false;
};

}  // namespace tarvik
