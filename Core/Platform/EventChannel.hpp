// An unbounded stream of events from a producer (a run on its worker thread)
// to readers (the application). Sending never blocks and never drops an event
// while someone reads. The stream terminates once: when the producer calls
// finish() (readers still drain what is buffered), or when the last Reader is
// destroyed before that (buffered events are dropped and later sends ignored).
// Termination runs the handler set with onTermination, which is how a run is
// asked to stop when nobody reads its events any more. Thread-safe.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <utility>

#include "Core/Platform/Errors.hpp"

namespace tarvik {

template <typename T>
class EventChannel : public std::enable_shared_from_this<EventChannel<T>> {
public:
    class Reader;

    static std::shared_ptr<EventChannel> make() {
        return std::shared_ptr<EventChannel>(new EventChannel());
    }

    // A new reader; the channel counts its readers.
    Reader reader() { return Reader(this->shared_from_this()); }

    void send(T event) {
        {
            std::lock_guard lock(mutex_);
            if (finished_ || terminated_) return;
            queue_.push_back(std::move(event));
        }
        ready_.notify_one();
    }

    // Ends the stream after what is buffered.
    void finish() {
        {
            std::lock_guard lock(mutex_);
            if (finished_) return;
            finished_ = true;
        }
        ready_.notify_all();
        terminate();
    }

    // Runs once when the stream terminates; at once when it already has.
    void onTermination(std::function<void()> handler) {
        {
            std::lock_guard lock(mutex_);
            if (!terminated_) {
                handler_ = std::move(handler);
                return;
            }
        }
        handler();
    }

    bool isTerminated() const {
        std::lock_guard lock(mutex_);
        return terminated_;
    }

    class Reader {
    public:
        Reader(const Reader& other) : Reader(other.channel_) {}
        Reader(Reader&& other) noexcept = default;
        Reader& operator=(Reader other) noexcept {
            std::swap(channel_, other.channel_);
            return *this;
        }
        ~Reader() {
            if (channel_) channel_->detach();
        }

        // The next event; nothing once the stream has ended and is drained.
        // Throws Cancelled when `stop` fires while waiting.
        std::optional<T> next(std::stop_token stop = {}) { return channel_->take(stop); }

    private:
        friend class EventChannel;
        explicit Reader(std::shared_ptr<EventChannel> channel) : channel_(std::move(channel)) {
            if (channel_) channel_->attach();
        }

        std::shared_ptr<EventChannel> channel_;
    };

private:
    EventChannel() = default;

    void attach() {
        std::lock_guard lock(mutex_);
        ++readers_;
    }

    void detach() {
        bool last = false;
        {
            std::lock_guard lock(mutex_);
            last = --readers_ == 0;
            if (last) queue_.clear();
        }
        if (last) terminate();
    }

    std::optional<T> take(std::stop_token stop) {
        std::unique_lock lock(mutex_);
        if (!ready_.wait(lock, stop,
                         [this] { return !queue_.empty() || finished_ || terminated_; })) {
            throw Cancelled();
        }
        if (queue_.empty()) return std::nullopt;
        T event = std::move(queue_.front());
        queue_.pop_front();
        return event;
    }

    void terminate() {
        std::function<void()> handler;
        {
            std::lock_guard lock(mutex_);
            if (terminated_) return;
            terminated_ = true;
            handler.swap(handler_);
        }
        ready_.notify_all();
        if (handler) handler();
    }

    // Guards every member below.
    mutable std::mutex mutex_;
    std::condition_variable_any ready_;
    std::deque<T> queue_;
    bool finished_ = false;
    bool terminated_ = false;
    std::size_t readers_ = 0;
    std::function<void()> handler_;
};

}  // namespace tarvik
