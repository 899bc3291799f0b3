#pragma once
// The send window's background work: the threads its scans, on-card checks
// and copy run on, the order in which their results may still be applied, and
// the one hop back to the GUI thread. Owned by SendToSDState and used on the
// GUI thread only; destroying it stops every thread it started and waits for
// it, so nothing outlives the window (once the program is ending, no longer
// than its deadline: the copy under way is whole or removed well before it).
#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "App/Model/OwnedTasks.hpp"
#include "App/Model/VolumeLooks.hpp"
#include "App/Platform/HangGuard.hpp"
#include "App/Windows/SendToSDState.hpp"

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

// One kind of work of which only the latest request counts. A request while
// one runs stops that one and starts when it has told its end, so that a
// burst of requests costs two runs. A run that has not told its end by the
// deadline after its stop is held by a file system that does not answer: it
// is left to end by itself, and what it tells then counts for nothing, so
// that the request (another folder, another card) is not held with it.
class LatestOnly {
public:
    // Starts the run numbered `run`, which tells its end with that number;
    // null when no thread could be had.
    using Start = std::function<std::shared_ptr<DetachedTask>(std::uint64_t run)>;

    // The deadline's timer runs on `context`'s thread while `context` lives.
    explicit LatestOnly(QObject* context) : context_(context) {}

    void request(Start start) {
        if (!running_) return begin(std::move(start));
        running_->cancel();
        const bool waiting = next_ != nullptr;
        next_ = std::move(start);
        if (waiting) return;  // the deadline is counting already
        QTimer::singleShot(VolumeLooks::defaultDeadline, context_, [this, run = run_] {
            if (run == run_ && running_ && next_) begin(std::exchange(next_, nullptr));
        });
    }
    // The run has told its end (on the GUI thread): the request that waited,
    // if any, starts now.
    void ended(std::uint64_t run) {
        if (run != run_) return;  // left behind
        running_.reset();
        if (next_) begin(std::exchange(next_, nullptr));
    }

private:
    void begin(Start start) { running_ = start(++run_); }

    QObject* context_;
    std::uint64_t run_ = 0;  // the latest run started
    std::shared_ptr<DetachedTask> running_;
    Start next_;
};

struct SendToSDState::Workers {
    explicit Workers(QObject* context) : scanning(context), marking(context) {}

    // Whether the source and the last export folder are there: asked no
    // longer than the window waits for the volumes' answer.
    HangGuard guard{VolumeLooks::defaultDeadline};
    ResultOrder looks;    // looks that change the source: stale once it changed
    ResultOrder scans;    // the source's album list: stale once the source changed
    ResultOrder marks;    // the on-card marks: stale once the card or the album list changed
    LatestOnly scanning;  // the source's scan
    LatestOnly marking;   // the on-card check
    std::shared_ptr<DetachedTask> copy;  // the last send; stopping it is "中止"
    bool scanningDrop = false;           // dropped folders are being looked through
    // Last, so that it goes first: every thread is stopped and waited for
    // before the rest of the window's state.
    OwnedTasks tasks;
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
