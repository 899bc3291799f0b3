#include "Core/Platform/DetachedTask.hpp"

#include <atomic>
#include <thread>
#include <utility>

namespace tarvik {

namespace {

using Clock = std::chrono::steady_clock;

// The ending deadline in the clock's ticks; max: not ending.
std::atomic<Clock::rep> endingAt{Clock::time_point::max().time_since_epoch().count()};
std::atomic<std::size_t> threadsRunning{0};

}  // namespace

std::shared_ptr<DetachedTask> DetachedTask::start(Work work) {
    std::shared_ptr<DetachedTask> task(new DetachedTask());
    // Counted before the thread may end; a thread the system refuses is not.
    ++threadsRunning;
    struct Uncount {
        bool started = false;
        ~Uncount() {
            if (!started) --threadsRunning;
        }
    } uncount;
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
        --threadsRunning;
    });
    uncount.started = true;
    std::lock_guard lock(task->joining_);
    task->thread_ = std::move(thread);
    return task;
}

DetachedTask::~DetachedTask() {
    std::lock_guard lock(joining_);
    if (thread_.joinable()) thread_.detach();
}

void DetachedTask::wait() const {
    waitFor(std::chrono::milliseconds::max());
}

bool DetachedTask::waitFor(std::chrono::milliseconds timeout) const {
    {
        std::unique_lock lock(mutex_);
        const Clock::time_point end = waitEnd(timeout);
        const auto ended = [this] { return ended_; };
        if (end == Clock::time_point::max()) {
            endedChanged_.wait(lock, ended);
        } else if (!endedChanged_.wait_until(lock, end, ended)) {
            return false;
        }
    }
    join();
    return true;
}

Clock::time_point DetachedTask::waitEnd(std::chrono::milliseconds timeout) {
    const Clock::time_point ending{Clock::duration(endingAt.load())};
    const Clock::time_point now = Clock::now();
    // A timeout past the clock's range waits for ever, as the ending allows.
    if (timeout >= std::chrono::duration_cast<std::chrono::milliseconds>(ending - now))
        return ending;
    return now + timeout;
}

void DetachedTask::endingBy(Clock::time_point by) {
    endingAt = by.time_since_epoch().count();
    // A wait already under way sees the deadline at its next wake only; the
    // end of main() sets it before any of them begin.
}

std::size_t DetachedTask::running() {
    return threadsRunning.load();
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
