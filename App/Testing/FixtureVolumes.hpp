#pragma once
// A volume service for tests: the volumes are whatever the test lists, mounts
// and unmounts reach the watcher when the test says so, and ejects are
// recorded and answered as the test decides; an eject that succeeds takes the
// volume off the list. GUI thread, except its listers and ejecters, which the
// model calls from workers.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "App/Platform/VolumeService.hpp"

namespace tarvik::testing {

class FixtureVolumes final : public VolumeService {
public:
    // A removable FAT card at `path`, shown by its folder name.
    static Mounted card(const std::filesystem::path& path, std::int64_t available = 0);

    // Runs on the ejecting worker before the eject is answered: a test holds
    // the eject there. Set before the eject begins.
    std::function<void(std::stop_token)> duringEject;

    // Lists the volume at `path` as a card from now on; before it is mounted.
    void listAsCard(const std::filesystem::path& path);
    Lister lister() const override;
    Ejecter ejecter() const override;
    void watch(std::function<void(std::optional<std::filesystem::path>)> changed) override {
        changed_ = std::move(changed);
    }

    // Lists the volume without telling the watcher: mounted before the start.
    void add(Mounted volume);
    // Lists the volume and tells the watcher, as a mount does.
    void mount(Mounted volume);
    // Changes the free space listed for `path` without telling the watcher, as
    // writing onto it does.
    void setAvailable(const std::filesystem::path& path, std::int64_t available);
    // Takes the volume off the list and tells the watcher.
    void unmount(const std::filesystem::path& path);

    // The reason the next ejects of `path` fail with.
    void refuseEject(const std::filesystem::path& path, std::string reason);
    std::vector<std::filesystem::path> ejected() const;

private:
    // What the lister reads, shared with it: a listing left behind by the
    // model keeps it, not this object.
    struct Listed {
        std::mutex mutex;  // guards list and cards
        std::vector<Mounted> list;
        std::set<std::filesystem::path> cards;
    };

    // What the ejecters answer and record, shared with them as `Listed` is.
    struct Ejects {
        std::mutex mutex;  // guards refusals and ejected
        std::map<std::filesystem::path, std::string> refusals;
        std::vector<std::filesystem::path> ejected;
    };

    std::function<void(std::optional<std::filesystem::path>)> changed_;
    std::shared_ptr<Listed> listed_ = std::make_shared<Listed>();
    std::shared_ptr<Ejects> ejects_ = std::make_shared<Ejects>();
};

}  // namespace tarvik::testing
