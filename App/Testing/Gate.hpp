#pragma once
// For tests of work that waits on something that does not answer: a gate
// that holds a worker until the test opens it, the worker is stopped, or ten
// seconds pass, so that a fault never hangs the test. Header only; any thread.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stop_token>

namespace tarvik::testing {

class Gate {
public:
    void wait(std::stop_token stop) {
        std::unique_lock lock(mutex_);
        opened_.wait_for(lock, stop, std::chrono::seconds(10), [&] { return open_; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        opened_.notify_all();
    }

private:
    std::mutex mutex_;  // guards open_
    std::condition_variable_any opened_;
    bool open_ = false;
};

}  // namespace tarvik::testing
