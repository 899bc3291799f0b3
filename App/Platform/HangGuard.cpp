#include "App/Platform/HangGuard.hpp"

#include <condition_variable>
#include <mutex>
#include <system_error>

#include "Core/Platform/DetachedTask.hpp"

namespace tarvik {

// The guard's state, shared with every question's thread.
struct HangGuard::Shared {
    std::mutex mutex;  // guards held
    std::set<std::string> held;
};

namespace {

// One question: whether it has answered, and whether its asker gave up.
struct Call {
    std::mutex mutex;  // guards answered and abandoned
    std::condition_variable_any done;
    bool answered = false;
    bool abandoned = false;
};

}  // namespace

HangGuard::HangGuard(std::chrono::milliseconds deadline)
    : deadline_(deadline), shared_(std::make_shared<Shared>()) {}

bool HangGuard::held(const std::string& place) const {
    std::lock_guard lock(shared_->mutex);
    return shared_->held.contains(place);
}

bool HangGuard::run(const std::string& place, std::function<void()> question,
                    std::function<void()> late, std::stop_token stop) const {
    {
        std::lock_guard lock(shared_->mutex);
        if (!shared_->held.insert(place).second) return false;
    }
    auto call = std::make_shared<Call>();
    try {
        DetachedTask::start([shared = shared_, call, place, question = std::move(question),
                             late = std::move(late)](std::stop_token) {
            question();
            {
                // Let go of the place first: a question asked from now on may run.
                std::lock_guard lock(shared->mutex);
                shared->held.erase(place);
            }
            bool abandoned = false;
            {
                std::lock_guard lock(call->mutex);
                call->answered = true;
                abandoned = call->abandoned;
            }
            call->done.notify_all();
            if (abandoned && late) late();
        });
    } catch (const std::system_error&) {
        std::lock_guard lock(shared_->mutex);
        shared_->held.erase(place);
        return false;
    }
    std::unique_lock lock(call->mutex);
    const bool answered =
        call->done.wait_until(lock, stop, std::chrono::steady_clock::now() + deadline_,
                              [&call] { return call->answered; });
    if (!answered) call->abandoned = true;
    return answered;
}

}  // namespace tarvik
