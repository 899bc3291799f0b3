// A sleep that ends early when its stop token fires, for waits that a user's
// stop must cut short (pacing and back-off of network requests, the grace
// period before a child is killed).
#pragma once

#include <chrono>
#include <stop_token>

namespace tarvik {

// Sleeps for `duration`; returns false when `stop` fired first (or had already).
bool sleepFor(std::chrono::nanoseconds duration, std::stop_token stop);

}  // namespace tarvik
