#include <gtest/gtest.h>

#include <thread>

#include "Core/Pipeline/RunOptions.hpp"

namespace tarvik {
namespace {

TEST(RunOptions, DefaultJobsLeaveOneProcessorFree) {
    const std::vector<std::pair<unsigned, std::int64_t>> cases = {{0, 1}, {1, 1}, {2, 1},
                                                                  {3, 2}, {8, 7}, {64, 63}};
    for (const auto& [processors, jobs] : cases) {
        EXPECT_EQ(RunOptions::defaultJobs(processors), jobs) << processors;
    }
}

TEST(RunOptions, NewRunNormalisesLoudnessAndLooksNothingUp) {
    const RunOptions options;
    EXPECT_EQ(options.loudnessTarget, -14.0);
    EXPECT_FALSE(options.lookup);
    EXPECT_EQ(options.jobs, RunOptions::defaultJobs(std::thread::hardware_concurrency()));
}

}  // namespace
}  // namespace tarvik
