#include "App/Testing/FixtureVolumes.hpp"

#include <algorithm>

namespace tarvik::testing {

VolumeService::Mounted FixtureVolumes::card(const std::filesystem::path& path,
                                            std::int64_t available) {
    return {.path = path, .available = available, .removable = true, .rootFileSystem = false};
}

std::optional<std::string> FixtureVolumes::eject(const std::filesystem::path& path,
                                                 std::stop_token stop) {
    if (duringEject) duringEject(stop);
    std::lock_guard lock(mutex_);
    ejected_.push_back(path);
    if (const auto refusal = refusals_.find(path); refusal != refusals_.end()) {
        return refusal->second;
    }
    std::erase_if(list_, [&](const Mounted& m) { return m.path == path; });
    return std::nullopt;
}

std::vector<VolumeService::Mounted> FixtureVolumes::mounted() {
    std::lock_guard lock(mutex_);
    std::vector<Mounted> listed = list_;
    for (Mounted& volume : listed) volume.card = cards.contains(volume.path);
    return listed;
}

void FixtureVolumes::add(Mounted volume) {
    std::lock_guard lock(mutex_);
    list_.push_back(std::move(volume));
}

void FixtureVolumes::mount(Mounted volume) {
    const std::filesystem::path path = volume.path;
    add(std::move(volume));
    if (changed_) changed_(path);
}

void FixtureVolumes::setAvailable(const std::filesystem::path& path, std::int64_t available) {
    std::lock_guard lock(mutex_);
    for (Mounted& volume : list_)
        if (volume.path == path) volume.available = available;
}

void FixtureVolumes::unmount(const std::filesystem::path& path) {
    {
        std::lock_guard lock(mutex_);
        std::erase_if(list_, [&](const Mounted& m) { return m.path == path; });
    }
    if (changed_) changed_(std::nullopt);
}

void FixtureVolumes::refuseEject(const std::filesystem::path& path, std::string reason) {
    std::lock_guard lock(mutex_);
    refusals_[path] = std::move(reason);
}

std::vector<std::filesystem::path> FixtureVolumes::ejected() const {
    std::lock_guard lock(mutex_);
    return ejected_;
}

}  // namespace tarvik::testing
