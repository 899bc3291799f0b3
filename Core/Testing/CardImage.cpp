#include "Core/Testing/CardImage.hpp"

#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <thread>

#include "Core/Testing/Mounting.hpp"
#include "Core/Testing/Shell.hpp"

namespace tarvik::testing {
namespace {

bool run(const std::vector<std::string>& words) {
    return runCommand(words).exitCode == 0;
}

}  // namespace

std::unique_ptr<CardImage> CardImage::make(std::uint64_t bytes, std::string& whyNot,
                                           const std::string& folderName) {
    whyNot = whyNoMounting();
    if (whyNot.empty()) {
        whyNot = missingProgram(
            {"/usr/sbin/mkfs.exfat", "/usr/sbin/mount.exfat-fuse", "/usr/sbin/losetup"});
    }
    for (const char* device : {"/dev/fuse", "/dev/loop-control"}) {
        if (whyNot.empty() && ::access(device, R_OK | W_OK) != 0) {
            whyNot = std::string("this machine has no ") + device;
        }
    }
    if (!whyNot.empty()) return nullptr;

    std::unique_ptr<CardImage> card(new CardImage());
    const std::filesystem::path image = card->temp_ / "card.img";
    card->mountPoint_ = card->temp_ / folderName;
    std::filesystem::create_directories(card->mountPoint_);
    if (!run({"truncate", "-s", std::to_string(bytes), image.string()}) ||
        !run({"/usr/sbin/mkfs.exfat", "-L", "TARVIKTEST", image.string()})) {
        throw std::runtime_error("mkfs.exfat failed on " + image.string());
    }
    ShellResult attached = runCommand({"/usr/sbin/losetup", "--find", "--show", image.string()});
    while (!attached.output.empty() && attached.output.back() == '\n') attached.output.pop_back();
    if (attached.exitCode != 0 || attached.output.empty()) {
        throw std::runtime_error("losetup attached no loop device to " + image.string());
    }
    card->device_ = attached.output;
    if (!card->mount()) {
        // The destructor detaches the loop device.
        throw std::runtime_error("mount.exfat-fuse could not mount " + card->device_);
    }
    return card;
}

bool CardImage::mount() {
    if (!mounted_) {
        mounted_ =
            run({"/usr/sbin/mount.exfat-fuse", "-o", "noatime", device_, mountPoint_.string()});
    }
    return mounted_;
}

bool CardImage::unmount() {
    // A FUSE daemon may still hold the mount for a moment after the last
    // file was closed.
    for (int attempt = 0; mounted_ && attempt < 20; ++attempt) {
        if (run({"umount", mountPoint_.string()})) {
            mounted_ = false;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    return !mounted_;
}

void CardImage::pull() {
    if (mounted_ && run({"umount", "--lazy", mountPoint_.string()})) mounted_ = false;
}

CardImage::~CardImage() {
    unmount();
    if (!device_.empty()) run({"/usr/sbin/losetup", "--detach", device_});
}

}  // namespace tarvik::testing
