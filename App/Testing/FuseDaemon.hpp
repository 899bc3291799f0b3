#pragma once
// For tests of a file system that stops answering: the FUSE daemon serving a
// test's own card image (CardImage), found by the mount point its command line
// names, a stop of it that always ends, and a music drive of such a card.
// Header only.
#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Core/Testing/CardImage.hpp"

namespace tarvik::testing {

// The exFAT daemon serving `mountPoint`, which a test's card image started.
inline std::optional<pid_t> fuseDaemonServing(const std::filesystem::path& mountPoint) {
    for (const std::filesystem::directory_entry& entry :
         std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream file(entry.path() / "cmdline", std::ios::binary);
        std::vector<std::string> words;
        for (std::string word; std::getline(file, word, '\0');) words.push_back(word);
        if (words.empty() || words.front().find("exfat") == std::string::npos) continue;
        for (const std::string& word : words)
            if (word == mountPoint.string()) return static_cast<pid_t>(std::stol(name));
    }
    return std::nullopt;
}

// Stops the daemon until the scope ends or `atMost` has passed, whichever
// comes first: a look that the stop holds on the test's own thread (a fault
// under test) ends then, and the test fails instead of hanging, with every
// other look at the card held for good.
class StoppedDaemon {
public:
    StoppedDaemon(pid_t daemon, std::chrono::milliseconds atMost)
        : stopped_(::kill(daemon, SIGSTOP) == 0), thread_([daemon, atMost](std::stop_token stop) {
              std::mutex mutex;  // guards nothing: the wait needs one
              std::condition_variable_any woken;
              std::unique_lock lock(mutex);
              woken.wait_for(lock, stop, atMost, [] { return false; });
              ::kill(daemon, SIGCONT);
          }) {}
    bool stopped() const { return stopped_; }

private:
    bool stopped_;
    std::jthread thread_;
};

// A music drive for such tests: a card image mounted at a folder named
// `name`, holding Music/<artist>/Album for each artist, and its daemon.
struct FuseMusicDrive {
    std::unique_ptr<CardImage> card;
    std::filesystem::path music;
    pid_t daemon = 0;

    // Nothing where the machine has no FUSE card to give, with why in `whyNot`.
    static std::optional<FuseMusicDrive> make(const std::vector<std::string>& artists,
                                              std::string& whyNot,
                                              const std::string& name = "MUSIC") {
        FuseMusicDrive drive;
        drive.card = CardImage::make(8 << 20, whyNot, name);
        if (!drive.card) return std::nullopt;
        drive.music = drive.card->root() / "Music";
        for (const std::string& artist : artists)
            std::filesystem::create_directories(drive.music / artist / "Album");
        const std::optional<pid_t> daemon = fuseDaemonServing(drive.card->root());
        if (!daemon) throw std::runtime_error("no daemon serves " + drive.card->root().string());
        drive.daemon = *daemon;
        return drive;
    }
};

}  // namespace tarvik::testing
