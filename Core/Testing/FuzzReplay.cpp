#include "Core/Testing/FuzzReplay.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "Core/Platform/WholeFile.hpp"
#include "Core/Testing/Fuzz.hpp"

namespace tarvik::testing {
namespace {

// Far beyond what any input takes, even under the sanitizers: one that runs
// longer is a reader that loops.
constexpr std::chrono::seconds inputLimit{60};

// Ends the program, naming the input, when one input runs past the limit: a
// loop is a finding like a crash, and the test reports it within a minute
// rather than at its own time-out, with nothing to say which input hung.
class Watchdog {
public:
    Watchdog()
        : thread_([this](std::stop_token stop) {
              std::unique_lock lock(mutex_);
              while (!stop.stop_requested()) {
                  if (running_.empty()) {
                      changed_.wait(lock, stop, [&] { return !running_.empty(); });
                      continue;
                  }
                  const std::string input = running_;
                  if (!changed_.wait_for(lock, stop, inputLimit,
                                         [&] { return running_ != input; })) {
                      if (stop.stop_requested()) break;
                      std::fprintf(stderr, "fuzz input %s still runs after %llds: it hangs\n",
                                   input.c_str(), static_cast<long long>(inputLimit.count()));
                      std::abort();
                  }
              }
          }) {}

    // The input now running; empty when none.
    void running(std::string input) {
        {
            const std::lock_guard lock(mutex_);
            running_ = std::move(input);
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;  // guards running_
    std::condition_variable_any changed_;
    std::string running_;
    std::jthread thread_;  // last: it stops and joins before the rest goes
};

}  // namespace

void replayFuzzCorpus(const std::filesystem::path& corpus) {
    ASSERT_TRUE(std::filesystem::is_directory(corpus)) << corpus;
    Watchdog watchdog;
    std::size_t played = 0;
    for (const auto& folder : std::filesystem::directory_iterator(corpus)) {
        const std::string name = folder.path().filename().string();
        const auto target = fuzz::targets().find(name);
        if (target == fuzz::targets().end()) {
            ADD_FAILURE() << "no fuzz target " << name << " for " << folder.path();
            continue;
        }
        std::vector<std::filesystem::path> inputs;
        for (const auto& input : std::filesystem::directory_iterator(folder.path())) {
            inputs.push_back(input.path());
        }
        std::sort(inputs.begin(), inputs.end());
        for (const std::filesystem::path& input : inputs) {
            const std::string shown = name + "/" + input.filename().string();
            SCOPED_TRACE(shown);
            const Bytes data = readWholeFile(input);
            watchdog.running(shown);
            EXPECT_NO_THROW(target->second(data));
            ++played;
        }
    }
    watchdog.running({});
    EXPECT_GT(played, 0u) << "nothing kept in " << corpus;
}

}  // namespace tarvik::testing
