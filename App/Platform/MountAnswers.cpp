#include "App/Platform/MountAnswers.hpp"

#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace tarvik {

// The answers kept, shared with every listing and every question's thread.
struct MountAnswers::Shared {
    explicit Shared(std::function<void()> late) : answeredLate(std::move(late)) {}

    // A mount's last answer, for the mount line it was given for: another
    // file system mounted at the same point is another volume.
    struct Kept {
        MountEntry mount;
        Facts facts;
        bool awaited = false;  // asked since, and not answered yet
    };

    // A mount asked from now on: what was kept of it is an answer to an
    // older question, which a listing no longer shows.
    void asking(const MountEntry& mount) {
        std::lock_guard lock(mutex);
        Kept& known = kept[mount.mountPoint.native()];
        if (known.mount != mount) known = {.mount = mount, .facts = {}, .awaited = false};
        known.awaited = true;
    }

    void answered(const MountEntry& mount, Facts facts, bool late) {
        {
            std::lock_guard lock(mutex);
            const auto known = kept.find(mount.mountPoint.native());
            // The mount went since it was asked, or another took its place.
            if (known == kept.end() || known->second.mount != mount) return;
            known->second.facts = std::move(facts);
            known->second.awaited = false;
            // Left out of every listing since it was asked: listed from now on.
            late = late && known->second.facts.has_value();
            if (late) catchUp = true;
        }
        if (late && answeredLate) answeredLate();
    }

    std::mutex mutex;                  // guards kept and catchUp
    std::map<std::string, Kept> kept;  // by mount point
    bool catchUp = false;              // a late answer came since the last listing began
    const std::function<void()> answeredLate;
};

MountAnswers::MountAnswers(std::chrono::milliseconds deadline, std::function<void()> answeredLate)
    : guard_(deadline), shared_(std::make_shared<Shared>(std::move(answeredLate))) {}

std::vector<VolumeService::Mounted> MountAnswers::list(const std::vector<MountEntry>& mounts,
                                                       const Question& question,
                                                       std::stop_token stop) const {
    // For each mount, what was kept of it, or nothing where it is asked anew.
    std::vector<std::optional<Facts>> taken(mounts.size());
    {
        std::lock_guard lock(shared_->mutex);
        const bool catchUp = std::exchange(shared_->catchUp, false);
        std::map<std::string, Shared::Kept> still;
        for (std::size_t at = 0; at < mounts.size(); ++at) {
            const auto known = shared_->kept.find(mounts[at].mountPoint.native());
            if (known == shared_->kept.end() || known->second.mount != mounts[at]) continue;
            // After a late answer the listing shows what is known: asking
            // again would start the next round of a file system's late answers.
            // One whose question is still out stays out until it answers.
            if (catchUp) taken[at] = known->second.awaited ? Facts{} : known->second.facts;
            still.insert(*known);
        }
        shared_->kept = std::move(still);
    }
    std::vector<VolumeService::Mounted> list;
    for (std::size_t at = 0; at < mounts.size(); ++at) {
        Facts facts;
        if (taken[at]) {
            facts = std::move(*taken[at]);
        } else {
            if (stop.stop_requested()) break;
            const MountEntry& mount = mounts[at];
            shared_->asking(mount);
            // The question may outlive the listing, held by its file system:
            // it takes its own copy of what it reads.
            std::optional<Facts> answer = guard_.ask<Facts>(
                mount.mountPoint.native(), [question, mount] { return question(mount); }, stop,
                [shared = shared_, mount](Facts late) {
                    shared->answered(mount, std::move(late), true);
                });
            if (!answer) continue;
            shared_->answered(mount, *answer, false);
            facts = std::move(*answer);
        }
        if (facts) list.push_back(std::move(*facts));
    }
    return list;
}

}  // namespace tarvik
