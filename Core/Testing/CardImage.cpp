#include "Core/Testing/CardImage.hpp"

#include <unistd.h>

#include <chrono>
#include <thread>

#include "Core/Testing/Shell.hpp"

namespace tarvik::testing {
namespace {

bool run(const std::vector<std::string>& words) {
    return runCommand(words).exitCode == 0;
}

}  // namespace

std::unique_ptr<CardImage> CardImage::make(std::uint64_t bytes, std::string& whyNot,
                                           const std::string& folderName) {
    if (::geteuid() != 0) {
        whyNot = "loop devices and mounts need root";
        return nullptr;
    }
    for (const char* tool :
         {"/usr/sbin/mkfs.exfat", "/usr/sbin/mount.exfat-fuse", "/usr/sbin/losetup"}) {
        if (::access(tool, X_OK) != 0) {
            whyNot = std::string(tool) + " is not installed";
            return nullptr;
        }
    }
    if (::access("/dev/fuse", R_OK | W_OK) != 0) {
        whyNot = "no /dev/fuse on this machine";
        return nullptr;
    }

    std::unique_ptr<CardImage> card(new CardImage());
    const std::filesystem::path image = card->temp_ / "card.img";
    card->mountPoint_ = card->temp_ / folderName;
    std::filesystem::create_directories(card->mountPoint_);
    if (!run({"truncate", "-s", std::to_string(bytes), image.string()}) ||
        !run({"/usr/sbin/mkfs.exfat", "-L", "TARVIKTEST", image.string()})) {
        whyNot = "mkfs.exfat failed";
        return nullptr;
    }
    ShellResult attached = runCommand({"/usr/sbin/losetup", "--find", "--show", image.string()});
    while (!attached.output.empty() && attached.output.back() == '\n') attached.output.pop_back();
    if (attached.exitCode != 0 || attached.output.empty()) {
        whyNot = "no loop device could be attached";
        return nullptr;
    }
    card->device_ = attached.output;
    if (!card->mount()) {
        whyNot = "the exFAT image could not be mounted through FUSE";
        return nullptr;  // the destructor detaches the loop device
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
