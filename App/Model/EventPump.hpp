#pragma once
// Carries what the workers of an export report to the GUI thread: the
// runner's events and the closing steps of a pass, in the order they were
// sent. Workers send from any thread and never wait; the GUI thread drains
// what has arrived in slices of a few milliseconds, so a flood of events never
// holds it for long. Each planning pass or run is a pass of its own: starting
// one drops what is still on its way from the one before. The model owns one
// pump; destroying it closes it (nothing reaches the model any more), stops the
// workers of the current pass and waits for them, up to the program's ending
// deadline (DetachedTask::endingBy): a run held by its music folder's file
// system is left to end with the process, owning all it uses.
#include <QObject>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <variant>
#include <vector>

#include "Core/Pipeline/ConversionEvent.hpp"
#include "Core/Platform/DetachedTask.hpp"

namespace tarvik {

class EventPump {
public:
    using Handler = std::function<void(const ConversionEvent&)>;
    // The longest the GUI thread spends in one drain before it lets other work in.
    static constexpr std::chrono::milliseconds slice{8};

    // `handler` runs on `receiver`'s thread for each event while the receiver lives.
    EventPump(QObject* receiver, Handler handler);
    ~EventPump();
    EventPump(const EventPump&) = delete;
    EventPump& operator=(const EventPump&) = delete;

    // The sending end of one pass; cheap to copy and safe on any thread. Once
    // a newer pass began or the pump closed, whatever it sends is dropped.
    class Pass {
    public:
        void send(ConversionEvent event) const;
        // Runs `step` on the GUI thread after everything sent before it.
        void then(std::function<void()> step) const;

    private:
        friend class EventPump;
        struct Shared;
        std::shared_ptr<Shared> shared_;
        std::uint64_t number_ = 0;
    };

    // GUI thread. Begins a new pass; the workers kept for the pass before are
    // left to end on their own.
    Pass beginPass();
    // The pass under way (or the last one).
    Pass currentPass() const;
    // GUI thread. A worker of the current pass, stopped and waited for when the
    // pump goes away.
    void keep(std::shared_ptr<DetachedTask> worker);

private:
    std::shared_ptr<Pass::Shared> shared_;
    std::vector<std::shared_ptr<DetachedTask>> workers_;
};

}  // namespace tarvik
