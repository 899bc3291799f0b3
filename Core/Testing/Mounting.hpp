// Whether this process may mount, and a small tmpfs for tests of full
// volumes. A test skips only where mounting is not permitted (not root, or a
// container that forbids it) and says so; a mount refused for any other
// reason throws, so the test fails instead of passing unseen.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <utility>

namespace tarvik::testing {

// Why this process may not mount file systems; empty when it may.
std::string whyNoMounting();

class Tmpfs {
public:
    // A tmpfs with `options` (such as "size=256k,nr_inodes=4") on the existing
    // folder `at`, or nothing with the reason in `whyNot` where mounting is not
    // permitted. Throws std::runtime_error when the mount fails otherwise.
    // `flags` are mount(2)'s, such as MS_RDONLY.
    static std::unique_ptr<Tmpfs> mount(const std::filesystem::path& at,
                                        const std::string& options, std::string& whyNot,
                                        unsigned long flags = 0);
    ~Tmpfs();
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;

private:
    explicit Tmpfs(std::filesystem::path folder) : folder_(std::move(folder)) {}

    std::filesystem::path folder_;
};

}  // namespace tarvik::testing
