#pragma once
// The model's questions to the mounted volumes and to the destination: the
// volumes with their facts (VolumeService::mounted), and whether the
// destination is there and may take a run (ExportDestination). Any of them
// may lie on a file system that stops answering, so they are asked on a
// worker, never on the GUI thread; the answer comes back there, and only the
// answer to the latest question counts (one question runs at a time, and
// those asked meanwhile make one more). The destination's own check waits no
// longer than a deadline (HangGuard): one that did not answer is told so,
// and its answer is told when it comes, beside the volumes last listed,
// without asking again: a destination slower than the deadline is answered
// all the same. Owned by the model; GUI thread. Going, it stops its worker
// and waits for it, up to the program's ending deadline.
#include <QObject>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "App/Model/VolumeList.hpp"
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
    // What the destination's check finds: whether something is there, and
    // why a run may not write there. Asks the destination's file system, on
    // a worker; owns what it touches.
    struct Found {
        bool exists = false;
        std::optional<std::string> refusal;
    };
    using Check =
        std::function<Found(const std::string& destPath, const std::vector<Volume>& listed)>;
    // The real one (ExportDestination).
    static Found checkDestination(const std::string& destPath, const std::vector<Volume>& listed);

    // Long enough for a card to answer under load, short enough that the
    // window shows the answer well within a second.
    static constexpr std::chrono::milliseconds defaultDeadline{400};

    // `answered` runs on `receiver`'s thread for the answer to the latest
    // question, and for a late answer of its destination's check. `check`:
    // tests hand in a destination slower than the deadline.
    VolumeLooks(std::shared_ptr<VolumeService> service, QObject* receiver, Answered answered,
                std::chrono::milliseconds deadline = defaultDeadline,
                Check check = &checkDestination);
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
    void answeredLate(Destination late);

    std::shared_ptr<VolumeService> service_;
    Answered tell_;  // the answer to the latest question
    GuiOutlet outlet_;
    HangGuard guard_;
    Check check_;
    std::string destPath_;                         // of the latest question
    std::uint64_t asked_ = 0;                      // questions so far
    std::uint64_t answered_ = 0;                   // the latest question answered
    std::shared_ptr<DetachedTask> running_;        // the question under way
    bool again_ = false;                           // asked while one ran
    std::vector<VolumeService::Mounted> mounted_;  // as last told
    // The last late answer of a destination's check, and how many questions
    // had been asked when it came: a question asked before it that found the
    // check still out takes it.
    std::optional<Destination> late_;
    std::uint64_t lateAfter_ = 0;
};

}  // namespace tarvik
