// A group of child tasks of which at most `width` run at once, each on a
// thread of its own, with results taken in the order the children complete.
// Every child receives the group's stop token, which also fires when the
// parent token given at construction does. One owner thread drives the group
// (spawn and next); children may finish on any thread. The destructor asks
// the children to stop and waits for all of them. A child that throws makes
// next() rethrow that exception.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

namespace tarvik {

template <typename T>
class BoundedGroup {
public:
    using Child = std::function<T(std::stop_token)>;

    // A width of 0 counts as 1: a group that could start nothing would block forever.
    explicit BoundedGroup(std::size_t width, std::stop_token parent = {})
        : width_(std::max<std::size_t>(width, 1)),
          forwardStop_(std::move(parent), [this] { stop_.request_stop(); }) {}

    ~BoundedGroup() {
        stop_.request_stop();
        std::map<std::uint64_t, std::thread> threads;
        {
            std::lock_guard lock(mutex_);
            threads.swap(threads_);
        }
        for (auto& [id, thread] : threads) thread.join();
    }

    BoundedGroup(const BoundedGroup&) = delete;
    BoundedGroup& operator=(const BoundedGroup&) = delete;

    // Starts the child; waits first while `width` children are still running.
    void spawn(Child child) {
        std::unique_lock lock(mutex_);
        slotFree_.wait(lock, [this] { return running_ < width_; });
        const std::uint64_t id = nextId_++;
        ++running_;
        ++outstanding_;
        try {
            threads_.emplace(
                id, std::thread([this, id, child = std::move(child), token = stop_.get_token()] {
                    Outcome outcome;
                    try {
                        outcome.value.emplace(child(token));
                    } catch (...) {
                        outcome.error = std::current_exception();
                    }
                    {
                        std::lock_guard childLock(mutex_);
                        finished_.emplace_back(id, std::move(outcome));
                        --running_;
                    }
                    slotFree_.notify_all();
                    resultReady_.notify_all();
                }));
        } catch (...) {
            --running_;
            --outstanding_;
            throw;
        }
    }

    // The result of the next child to complete; nothing when no child is
    // outstanding (all results taken).
    std::optional<T> next() {
        std::unique_lock lock(mutex_);
        if (outstanding_ == 0) return std::nullopt;
        resultReady_.wait(lock, [this] { return !finished_.empty(); });
        auto [id, outcome] = std::move(finished_.front());
        finished_.pop_front();
        --outstanding_;
        std::thread thread = std::move(threads_.at(id));
        threads_.erase(id);
        lock.unlock();
        thread.join();  // the child has already handed over its result
        if (outcome.error) std::rethrow_exception(outcome.error);
        return std::move(*outcome.value);
    }

    // Children started whose results have not been taken yet.
    std::size_t outstanding() const {
        std::lock_guard lock(mutex_);
        return outstanding_;
    }

    void requestStop() { stop_.request_stop(); }
    std::stop_token stopToken() const { return stop_.get_token(); }

private:
    struct Outcome {
        std::optional<T> value;
        std::exception_ptr error;
    };

    const std::size_t width_;
    std::stop_source stop_;
    std::stop_callback<std::function<void()>> forwardStop_;

    // Guards running_, outstanding_, nextId_, threads_ and finished_.
    mutable std::mutex mutex_;
    std::condition_variable slotFree_;
    std::condition_variable resultReady_;
    std::size_t running_ = 0;
    std::size_t outstanding_ = 0;
    std::uint64_t nextId_ = 0;
    std::map<std::uint64_t, std::thread> threads_;
    std::deque<std::pair<std::uint64_t, Outcome>> finished_;
};

}  // namespace tarvik
