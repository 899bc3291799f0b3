// Fuzz targets: each runs one reader of bytes that come from the user's
// library or a card (tags, atoms, plans, journals) on any bytes at all. A
// target must end, in bounded time and memory, with a result or with one of
// the errors its reader documents (which it catches); a crash, a sanitizer's
// report or any other exception is a finding. A target is a plain function,
// registered by name (its file's name without "Fuzz"), so that clang's
// libFuzzer drives it (scripts/fuzz) and the folder's tests replay the kept
// inputs that once broke it (testdata/fuzz/<name>/) under gcc. Header only:
// the fuzz build has no test library.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <span>
#include <stdexcept>
#include <string>

namespace tarvik::fuzz {

using Target = void (*)(std::span<const std::uint8_t> data);

// Every target linked into this program, by name.
inline std::map<std::string, Target>& targets() {
    static std::map<std::string, Target> all;
    return all;
}

struct Registration {
    Registration(const char* name, Target target) { targets().emplace(name, target); }
};

// The bytes as a file for readers that take a path: a memory file, named
// through /proc, gone with the object.
class MemoryFile {
public:
    explicit MemoryFile(std::span<const std::uint8_t> data)
        : descriptor_(::memfd_create("fuzz", MFD_CLOEXEC)) {
        if (descriptor_ < 0) throw std::runtime_error("memfd_create failed");
        for (std::size_t done = 0; done < data.size();) {
            const ssize_t written = ::write(descriptor_, data.data() + done, data.size() - done);
            if (written <= 0) throw std::runtime_error("writing the memory file failed");
            done += static_cast<std::size_t>(written);
        }
    }
    ~MemoryFile() { ::close(descriptor_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    std::filesystem::path path() const { return "/proc/self/fd/" + std::to_string(descriptor_); }

private:
    int descriptor_;
};

// A target's own check on what its reader returned failed.
struct Finding : std::logic_error {
    using std::logic_error::logic_error;
};

}  // namespace tarvik::fuzz
