#pragma once
// The send window's background work: the threads its scans, on-card checks
// and copy run on, the order in which their results may still be applied, and
// the one hop back to the GUI thread. Owned by SendToSDState and used on the
// GUI thread only; destroying it stops every thread it started and waits for
// it, so nothing outlives the window.
#include <QCoreApplication>
#include <QPointer>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <system_error>
#include <vector>

#include "App/Windows/SendToSDState.hpp"
#include "Core/Platform/DetachedTask.hpp"

namespace tarvik {

// Which results of one kind of background work still count. Results may
// arrive in any order; one is stale when what it was computed from changed
// after it started (the generation moved on), or when a result of a later
// start was applied before it.
class ResultOrder {
public:
    struct Ticket {
        std::uint64_t generation = 0;
        std::uint64_t number = 0;
    };

    Ticket start() { return {generation_, ++started_}; }
    // What the results are computed from changed: everything pending is stale.
    void invalidate() { ++generation_; }
    // Whether the result may be applied; once it is, older ones may not.
    bool accept(const Ticket& ticket) {
        if (ticket.generation != generation_ || ticket.number <= applied_) return false;
        applied_ = ticket.number;
        return true;
    }
    // A result given here and now overtakes everything pending.
    void settle() { accept(start()); }

private:
    std::uint64_t generation_ = 0;
    std::uint64_t started_ = 0;
    std::uint64_t applied_ = 0;
};

struct SendToSDState::Workers {
    ResultOrder scans;  // the source's album list: stale once the source changed
    ResultOrder marks;  // the on-card marks: stale once the card or the album list changed
    std::shared_ptr<DetachedTask> copy;  // the last send; stopping it is "中止"
    bool scanningDrop = false;           // dropped folders are being looked through

    Workers() = default;
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;
    ~Workers() {
        for (const auto& task : tasks_) task->cancel();
        for (const auto& task : tasks_) task->wait();
    }

    // Runs `work` on a thread of its own. Throws std::system_error when the
    // system gives no thread.
    std::shared_ptr<DetachedTask> start(DetachedTask::Work work) {
        std::erase_if(tasks_,
                      [](const auto& task) { return task->waitFor(std::chrono::milliseconds(0)); });
        std::shared_ptr<DetachedTask> task = DetachedTask::start(std::move(work));
        tasks_.push_back(task);
        return task;
    }
    // The same; false when no thread could be had and the work is skipped.
    bool tryStart(DetachedTask::Work work) {
        try {
            start(std::move(work));
            return true;
        } catch (const std::system_error&) {
            return false;
        }
    }

private:
    std::vector<std::shared_ptr<DetachedTask>> tasks_;  // every thread not yet known to have ended
};

// Runs `apply` on the GUI thread, unless the state is gone by then. Posted to
// the application object, which outlives every window.
inline void onState(const QPointer<SendToSDState>& state,
                    std::function<void(SendToSDState&)> apply) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [state, apply = std::move(apply)] {
            if (state) apply(*state);
        },
        Qt::QueuedConnection);
}

}  // namespace tarvik
