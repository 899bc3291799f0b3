#include "App/Model/VolumeLooks.hpp"

#include <system_error>
#include <utility>

#include "App/Model/ExportDestination.hpp"
#include "App/Model/VolumeList.hpp"

namespace tarvik {

VolumeLooks::Found VolumeLooks::checkDestination(const std::string& destPath,
                                                 const std::vector<Volume>& listed) {
    std::error_code error;
    return {.exists = std::filesystem::exists(destPath, error),
            .refusal = ExportDestination::refusal(destPath, listed)};
}

VolumeLooks::VolumeLooks(std::shared_ptr<VolumeService> service, QObject* receiver,
                         Answered answered, std::chrono::milliseconds deadline, Check check)
    : service_(std::move(service)),
      tell_(std::move(answered)),
      outlet_(receiver),
      guard_(deadline),
      check_(std::move(check)) {}

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
                 check = check_, outlet = outlet_, dest = destPath_, number,
                 this](std::stop_token stop) mutable {
        Answer answer;
        if (list) answer.mounted = list(stop);
        answer.destination.path = dest;
        if (!dest.empty() && !stop.stop_requested()) {
            // A listed volume counts as mounted, whatever its folder says.
            const std::vector<Volume> listed = volumeList(answer.mounted);
            // Posted only while the receiver lives, which owns this object.
            const auto late = [outlet, dest, this](Found found) {
                outlet.post([this, late = Destination{.path = dest,
                                                      .answered = true,
                                                      .exists = found.exists,
                                                      .refusal = std::move(found.refusal)}] {
                    answeredLate(late);
                });
            };
            const std::optional<Found> found = guard.ask<Found>(
                dest, [check, dest, listed] { return check(dest, listed); }, stop, late);
            if (found) {
                answer.destination.answered = true;
                answer.destination.exists = found->exists;
                answer.destination.refusal = found->refusal;
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
    // The check this question found still out may have answered before the
    // question ended: that answer is the newest there is.
    Destination& destination = answer.destination;
    if (!destination.answered && late_ && late_->path == destination.path && lateAfter_ >= number)
        destination = *late_;
    mounted_ = answer.mounted;
    if (tell_) tell_(std::move(answer));
}

void VolumeLooks::answeredLate(Destination late) {
    // About a destination no longer asked about: the next question of it asks anew.
    if (late.path != destPath_) return;
    late_ = late;
    lateAfter_ = asked_;
    // A question under way takes it when it ends, with the volumes it lists.
    if (running_) return;
    if (tell_) tell_({.mounted = mounted_, .destination = std::move(late)});
}

}  // namespace tarvik
