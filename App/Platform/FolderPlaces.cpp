#include "App/Platform/FolderPlaces.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <deque>
#include <system_error>

namespace tarvik::FolderPlaces {
namespace {

namespace fs = std::filesystem;

// As the kernel counts links in one path.
constexpr int linkHops = 40;

std::optional<std::uint64_t> folderDevice(const fs::path& path) {
    struct stat facts {};
    if (::stat(path.c_str(), &facts) != 0 || !S_ISDIR(facts.st_mode)) return std::nullopt;
    return static_cast<std::uint64_t>(facts.st_dev);
}

}  // namespace

fs::path resolved(const fs::path& path) {
    const fs::path relative = path.relative_path();
    std::deque<fs::path> rest(relative.begin(), relative.end());
    fs::path at = "/";
    for (int hops = 0; !rest.empty();) {
        const fs::path name = std::move(rest.front());
        rest.pop_front();
        if (name.empty() || name == ".") continue;
        if (name == "..") {
            at = at.parent_path();
            continue;
        }
        const fs::path next = at / name;
        struct stat facts {};
        if (::lstat(next.c_str(), &facts) != 0 || !S_ISLNK(facts.st_mode)) {
            at = next;
            continue;
        }
        std::error_code error;
        const fs::path target = fs::read_symlink(next, error);
        if (error || ++hops > linkHops) return path;
        if (target.is_absolute()) at = "/";
        const fs::path inward = target.relative_path();
        rest.insert(rest.begin(), inward.begin(), inward.end());
    }
    return at.lexically_normal();
}

std::vector<FolderPlace> of(const fs::path& folder) {
    if (folder.empty()) return {};
    std::error_code error;
    const fs::path absolute = fs::absolute(folder, error);
    if (error) return {};
    const fs::path real = resolved(absolute);
    std::vector<FolderPlace> places{{real, folderDevice(real)}};
    if (!places.front().device) return places;
    fs::directory_iterator entries(real, error);
    for (const fs::directory_iterator end; !error && entries != end; entries.increment(error)) {
        // The listing's own type: only a link costs a look of its own.
        if (!entries->is_symlink(error) || error) {
            error.clear();
            continue;
        }
        const fs::path target = resolved(entries->path());
        FolderPlace place{target, folderDevice(target)};
        if (place.device && std::find(places.begin(), places.end(), place) == places.end())
            places.push_back(std::move(place));
    }
    return places;
}

}  // namespace tarvik::FolderPlaces
