// Work on a thread of its own that no owner has to join: the thread holds
// everything the work needs, so dropping every pointer to the task neither
// stops the work nor waits for it. cancel() fires the work's stop token and
// may be called from any thread, any number of times; wait() blocks until the
// work has returned and everything it held has been released, the thread's
// own storage included (libraries free theirs as the thread exits, and a
// program that ends right after a wait must not race them). Starting throws
// std::system_error when the system can make no thread; the work itself must
// not throw. Once the program is ending (endingBy), no wait lasts beyond its
// deadline: a task whose work still waits then, held by a file system that
// does not answer, is left to end with the process, which it can do safely
// because its thread owns all it touches.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

namespace tarvik {

class DetachedTask {
public:
    using Work = std::function<void(std::stop_token)>;

    static std::shared_ptr<DetachedTask> start(Work work);

    DetachedTask(const DetachedTask&) = delete;
    DetachedTask& operator=(const DetachedTask&) = delete;
    // Lets a thread that nobody waited for go on by itself.
    ~DetachedTask();

    void cancel() { stop_.request_stop(); }
    bool isCancelled() const { return stop_.stop_requested(); }

    // Blocks until the work and all it captured are gone.
    void wait() const;
    // As wait, for at most `timeout`; false when the work still runs.
    bool waitFor(std::chrono::milliseconds timeout) const;

    // The program ends: every wait from now on returns by `by` at the latest,
    // whether the work has ended or not. The end of main() sets it, once the
    // event loop is over; time_point::max() (the start's) waits for ever.
    static void endingBy(std::chrono::steady_clock::time_point by);
    // Threads started here that have not exited yet, across the process: a
    // program whose count is not 0 after its owners went left some to the
    // system and must end without running the destructors they may touch.
    static std::size_t running();

private:
    DetachedTask() = default;
    void markEnded();
    // After the work ended: waits until its thread has exited.
    void join() const;
    // The end of a wait for the work: `timeout` from now, or the program's
    // ending deadline when that comes first.
    static std::chrono::steady_clock::time_point waitEnd(std::chrono::milliseconds timeout);

    std::stop_source stop_;
    mutable std::mutex mutex_;  // guards ended_
    mutable std::condition_variable endedChanged_;
    bool ended_ = false;
    mutable std::mutex joining_;  // guards thread_, taken only once the work has ended
    mutable std::thread thread_;
};

}  // namespace tarvik
