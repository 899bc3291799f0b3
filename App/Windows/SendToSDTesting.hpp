#pragma once
// Helpers for the send window's tests: a gate that holds a worker until the
// test opens it, and the real card tools with a copy that waits at such a gate.
// Header-only; the gate is opened on the GUI thread and waited at on a worker.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stop_token>

#include "App/Windows/SendToSDState.hpp"

namespace tarvik::testing {

// Holds a worker until the test opens it, the worker is stopped or 10 s pass.
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

// The real card tools, but the copy tells of the first album's first file and
// then waits at `gate` before it copies anything.
inline SendToSDState::Tools gatedTools(std::shared_ptr<Gate> gate) {
    SendToSDState::Tools tools = SendToSDState::Tools::standard();
    tools.send = [gate, real = tools.send](const auto& albums, const auto& root,
                                           const auto& progress, std::stop_token stop) {
        const auto& first = albums.at(0).files;
        progress(0, static_cast<std::int64_t>(first.size()), first.at(0));
        gate->wait(stop);
        return real(albums, root, progress, stop);
    };
    return tools;
}

}  // namespace tarvik::testing
