#include "App/Model/VolumeLooks.hpp"

#include <system_error>
#include <utility>

#include "App/Model/ExportDestination.hpp"
#include "App/Model/VolumeList.hpp"

namespace tarvik {

VolumeLooks::VolumeLooks(std::shared_ptr<VolumeService> service, QObject* receiver,
                         Answered answered, std::chrono::milliseconds deadline)
    : service_(std::move(service)),
      tell_(std::move(answered)),
      outlet_(receiver),
      // A destination that answers at last is asked about again. Posted only
      // while the receiver lives, which owns this object.
      guard_(deadline, [outlet = outlet_, this](const std::string&) {
          outlet.post([this] { ask(destPath_); });
      }) {}

VolumeLooks::~VolumeLooks() {
    outlet_.close();
    if (running_) {
        running_->cancel();
        running_->wait();
    }
}

void VolumeLooks::ask(const std::string& destPath) {
    destPath_ = destPath;
    ++asked_;
    if (running_) {
        again_ = true;
        return;
    }
    start();
}

void VolumeLooks::start() {
    const std::uint64_t number = asked_;
    // The lister, not the service: a worker held by a file system must keep
    // no object of the GUI thread alive.
    auto work = [list = service_ ? service_->lister() : VolumeService::Lister{}, guard = guard_,
                 outlet = outlet_, dest = destPath_, number, this](std::stop_token stop) mutable {
        Answer answer;
        if (list) answer.mounted = list(stop);
        answer.destination.path = dest;
        if (!dest.empty() && !stop.stop_requested()) {
            // A listed volume counts as mounted, whatever its folder says.
            const std::vector<Volume> listed = volumeList(answer.mounted);
            using Facts = std::pair<bool, std::optional<std::string>>;
            const std::optional<Facts> facts = guard.ask<Facts>(
                dest,
                [dest, listed] {
                    std::error_code error;
                    return Facts{std::filesystem::exists(dest, error),
                                 ExportDestination::refusal(dest, listed)};
                },
                stop);
            if (facts) {
                answer.destination.answered = true;
                answer.destination.exists = facts->first;
                answer.destination.refusal = facts->second;
            }
        }
        outlet.post([this, number, answer = std::move(answer)]() mutable {
            ended(number, std::move(answer));
        });
    };
    try {
        running_ = DetachedTask::start(std::move(work));
    } catch (const std::system_error&) {
        // No thread: nothing can be listed, and what is known stays.
        answered_ = number;
        again_ = false;
    }
}

void VolumeLooks::ended(std::uint64_t number, Answer answer) {
    running_.reset();
    const bool latest = number == asked_;
    if (!latest && again_) {
        again_ = false;
        start();
        return;
    }
    again_ = false;
    answered_ = number;
    if (tell_) tell_(std::move(answer));
}

}  // namespace tarvik
