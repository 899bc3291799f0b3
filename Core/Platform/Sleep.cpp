#include "Core/Platform/Sleep.hpp"

#include <condition_variable>
#include <mutex>

namespace tarvik {

bool sleepFor(std::chrono::nanoseconds duration, std::stop_token stop) {
    if (stop.stop_requested()) return false;
    if (duration <= std::chrono::nanoseconds::zero()) return true;
    std::mutex mutex;  // guards nothing: the wait only needs a lock to wait on
    std::condition_variable_any wakeUp;
    std::unique_lock lock(mutex);
    wakeUp.wait_for(lock, stop, duration, [] { return false; });
    return !stop.stop_requested();
}

}  // namespace tarvik
