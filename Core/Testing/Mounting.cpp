#include "Core/Testing/Mounting.hpp"

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace tarvik::testing {

std::string whyNoMounting() {
    // Mounting takes CAP_SYS_ADMIN, which root has and other users lack.
    constexpr unsigned long long sysAdmin = 1ULL << 21;
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (!line.starts_with("CapEff:")) continue;
        if (std::stoull(line.substr(7), nullptr, 16) & sysAdmin) return {};
        break;
    }
    return "mounting is not permitted for this user (it needs root)";
}

std::unique_ptr<Tmpfs> Tmpfs::mount(const std::filesystem::path& at, const std::string& options,
                                    std::string& whyNot, unsigned long flags) {
    whyNot = whyNoMounting();
    if (!whyNot.empty()) return nullptr;
    if (::mount("tmpfs", at.c_str(), "tmpfs", flags, options.c_str()) == 0) {
        return std::unique_ptr<Tmpfs>(new Tmpfs(at));
    }
    const int failure = errno;
    const std::string reason = std::strerror(failure);
    if (failure == EPERM || failure == EACCES) {
        whyNot = "mounting a tmpfs is not permitted here: " + reason;
        return nullptr;
    }
    throw std::runtime_error("cannot mount a tmpfs (" + options + ") on " + at.string() + ": " +
                             reason);
}

Tmpfs::~Tmpfs() {
    ::umount2(folder_.c_str(), MNT_DETACH);
}

}  // namespace tarvik::testing
