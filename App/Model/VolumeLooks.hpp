#pragma once
// The model's questions to the mounted volumes and to the destination: the
// volumes with their facts (VolumeService::mounted), and whether the
// destination is there and may take a run (ExportDestination). Any of them
// may lie on a file system that stops answering, so they are asked on a
// worker, never on the GUI thread; the answer comes back there, and only the
// answer to the latest question counts (one question runs at a time, and
// those asked meanwhile make one more). The destination's own check waits no
// longer than a deadline (HangGuard): one that did not answer is told so,
// and asked again once its file system answers. Owned by the model; GUI
// thread. Going, it stops its worker and waits for it, up to the program's
// ending deadline.
#include <QObject>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "App/Platform/GuiOutlet.hpp"
#include "App/Platform/HangGuard.hpp"
#include "App/Platform/VolumeService.hpp"
#include "Core/Platform/DetachedTask.hpp"

namespace tarvik {

class VolumeLooks {
public:
    struct Destination {
        std::string path;                    // the destination asked about
        bool answered = false;               // its file system answered in time
        bool exists = false;                 // something is there, file or folder
        std::optional<std::string> refusal;  // why a run may not write there

        bool operator==(const Destination&) const = default;
    };
    struct Answer {
        std::vector<VolumeService::Mounted> mounted;
        Destination destination;
    };
    using Answered = std::function<void(Answer)>;

    // Long enough for a card to answer under load, short enough that the
    // window shows the answer well within a second.
    static constexpr std::chrono::milliseconds defaultDeadline{400};

    // `answered` runs on `receiver`'s thread for the answer to the latest question.
    VolumeLooks(std::shared_ptr<VolumeService> service, QObject* receiver, Answered answered,
                std::chrono::milliseconds deadline = defaultDeadline);
    ~VolumeLooks();
    VolumeLooks(const VolumeLooks&) = delete;
    VolumeLooks& operator=(const VolumeLooks&) = delete;

    // Lists the volumes and checks `destPath` (empty: none) anew; returns at once.
    void ask(const std::string& destPath);
    // The latest question has been answered.
    bool current() const { return answered_ == asked_; }

private:
    void start();
    void ended(std::uint64_t number, Answer answer);

    std::shared_ptr<VolumeService> service_;
    Answered tell_;  // the answer to the latest question
    GuiOutlet outlet_;
    HangGuard guard_;
    std::string destPath_;                   // of the latest question
    std::uint64_t asked_ = 0;                // questions so far
    std::uint64_t answered_ = 0;             // the latest question answered
    std::shared_ptr<DetachedTask> running_;  // the question under way
    bool again_ = false;                     // asked while one ran
};

}  // namespace tarvik
