#pragma once
// What each mounted file system answered of itself, for the volume listings:
// a listing asks every mount through a HangGuard, and leaves out one that
// does not answer by the deadline. Its answer, when it comes, is kept and
// told (`answeredLate`), and the listing that follows takes what was kept
// instead of asking anew: a file system that always answers a little after
// the deadline (a network share, a slow USB disk) is listed all the same, and
// its late answer starts no round of questions by itself. Copies share their
// state. Listing waits up to the deadline for each mount: any thread but the
// GUI's. `answeredLate` runs on the question's thread and must own what it
// touches.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <vector>

#include "App/Platform/HangGuard.hpp"
#include "App/Platform/VolumeService.hpp"
#include "Core/Platform/VolumeFacts.hpp"

namespace tarvik {

class MountAnswers {
public:
    // What a mount says of itself; nothing where it is no volume to list.
    using Facts = std::optional<VolumeService::Mounted>;
    // Asks the mount's file system, which may not answer; must own what it reads.
    using Question = std::function<Facts(const MountEntry& mount)>;

    MountAnswers(std::chrono::milliseconds deadline, std::function<void()> answeredLate);

    // The volumes of `mounts`, in their order. After a late answer, the
    // answers kept stand and only mounts never asked are asked; otherwise
    // every mount whose earlier question is not still out is asked anew. A
    // stop leaves the mounts not asked yet out.
    std::vector<VolumeService::Mounted> list(const std::vector<MountEntry>& mounts,
                                             const Question& question, std::stop_token stop) const;

private:
    struct Shared;

    HangGuard guard_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace tarvik
