// Lowers the largest file this process may write while the object lives, so
// that a write fails part-way (EFBIG) as it would on a full card. Folder
// permissions can't make a write fail for root, and the tests run as root in
// CI; the limit holds for root too. SIGXFSZ is ignored meanwhile, so the
// write reports the error instead of ending the process.
#pragma once

#include <sys/resource.h>

namespace tarvik::testing {

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    // False when the limit could not be lowered, which the test should fail on:
    // any process may lower its own limit.
    bool active() const { return active_; }

private:
    rlimit saved_{};
    bool active_ = false;
    void (*handler_)(int) = nullptr;
};

}  // namespace tarvik::testing
