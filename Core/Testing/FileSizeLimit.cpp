#include "Core/Testing/FileSizeLimit.hpp"

#include <csignal>

namespace tarvik::testing {

FileSizeLimit::FileSizeLimit(rlim_t bytes) {
    if (::getrlimit(RLIMIT_FSIZE, &saved_) != 0) return;
    rlimit lowered = saved_;
    lowered.rlim_cur = bytes;
    handler_ = std::signal(SIGXFSZ, SIG_IGN);
    active_ = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
}

FileSizeLimit::~FileSizeLimit() {
    if (active_) ::setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, handler_);
}

}  // namespace tarvik::testing
