#include "App/Testing/FixtureVolumes.hpp"

#include <algorithm>

namespace tarvik::testing {

VolumeService::Mounted FixtureVolumes::card(const std::filesystem::path& path,
                                            std::int64_t available) {
    return {.path = path, .available = available, .removable = true, .rootFileSystem = false};
}

VolumeService::Ejecter FixtureVolumes::ejecter() const {
    return
        [during = duringEject, ejects = ejects_, listed = listed_](
            const std::filesystem::path& path, std::stop_token stop) -> std::optional<std::string> {
            if (during) during(stop);
            {
                std::lock_guard lock(ejects->mutex);
                ejects->ejected.push_back(path);
                if (const auto refusal = ejects->refusals.find(path);
                    refusal != ejects->refusals.end()) {
                    return refusal->second;
                }
            }
            std::lock_guard lock(listed->mutex);
            std::erase_if(listed->list, [&](const Mounted& m) { return m.path == path; });
            return std::nullopt;
        };
}

void FixtureVolumes::listAsCard(const std::filesystem::path& path) {
    std::lock_guard lock(listed_->mutex);
    listed_->cards.insert(path);
}

VolumeService::Lister FixtureVolumes::lister() const {
    return [listed = listed_](std::stop_token) {
        std::lock_guard lock(listed->mutex);
        std::vector<Mounted> volumes = listed->list;
        for (Mounted& volume : volumes) volume.card = listed->cards.contains(volume.path);
        return volumes;
    };
}

void FixtureVolumes::add(Mounted volume) {
    std::lock_guard lock(listed_->mutex);
    listed_->list.push_back(std::move(volume));
}

void FixtureVolumes::mount(Mounted volume) {
    const std::filesystem::path path = volume.path;
    add(std::move(volume));
    if (changed_) changed_(path);
}

void FixtureVolumes::setAvailable(const std::filesystem::path& path, std::int64_t available) {
    std::lock_guard lock(listed_->mutex);
    for (Mounted& volume : listed_->list)
        if (volume.path == path) volume.available = available;
}

void FixtureVolumes::unmount(const std::filesystem::path& path) {
    {
        std::lock_guard lock(listed_->mutex);
        std::erase_if(listed_->list, [&](const Mounted& m) { return m.path == path; });
    }
    if (changed_) changed_(std::nullopt);
}

void FixtureVolumes::refuseEject(const std::filesystem::path& path, std::string reason) {
    std::lock_guard lock(ejects_->mutex);
    ejects_->refusals[path] = std::move(reason);
}

std::vector<std::filesystem::path> FixtureVolumes::ejected() const {
    std::lock_guard lock(ejects_->mutex);
    return ejects_->ejected;
}

}  // namespace tarvik::testing
