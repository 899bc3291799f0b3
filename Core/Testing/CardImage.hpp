// A real exFAT card for tests: an image file formatted with mkfs.exfat,
// attached to a loop device and mounted through FUSE in a private folder.
// Needs root, loop devices, FUSE and the exFAT tools; where the machine lacks
// one, `make` says why and the test skips. A tool that is there but fails
// throws, and the test fails. The destructor always unmounts and detaches.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "Core/Testing/TempDir.hpp"

namespace tarvik::testing {

class CardImage {
public:
    // A mounted card of `bytes` bytes, or nothing with the reason in `whyNot`
    // where the machine lacks something it needs; throws std::runtime_error
    // when a step fails. `folderName` names the mount point, which may be any bytes.
    static std::unique_ptr<CardImage> make(std::uint64_t bytes, std::string& whyNot,
                                           const std::string& folderName = "card");
    ~CardImage();
    CardImage(const CardImage&) = delete;
    CardImage& operator=(const CardImage&) = delete;

    // Unmounts at once, open files or not, as a card pulled from its slot:
    // the empty mount point stays behind.
    void pull();

    // The card's mount point.
    const std::filesystem::path& root() const { return mountPoint_; }
    // The loop device, such as "/dev/loop3".
    const std::string& device() const { return device_; }

    // Unmounts the card cleanly, and mounts it again at the same folder, as
    // ejecting and inserting it would; false when the system refused.
    bool unmount();
    bool mount();

private:
    CardImage() = default;

    TempDir temp_;
    std::filesystem::path mountPoint_;
    std::string device_;
    bool mounted_ = false;
};

}  // namespace tarvik::testing
