#include "Core/Pipeline/RunOptions.hpp"

namespace tarvik {

std::int64_t RunOptions::defaultJobs(unsigned processorCount) {
    return processorCount > 1 ? static_cast<std::int64_t>(processorCount) - 1 : 1;
}

}  // namespace tarvik
