#include "Core/Profiles/ProfileStore.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

#include "Core/Platform/AtomicFile.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Platform/NameOrder.hpp"
#include "Core/Platform/WholeFile.hpp"

namespace tarvik::ProfileStore {
namespace {

namespace fs = std::filesystem;

// Position in builtinOrder; every other id shares the rank after the last.
std::size_t rankOf(std::string_view id) {
    auto found = std::find(builtinOrder.begin(), builtinOrder.end(), id);
    return static_cast<std::size_t>(found - builtinOrder.begin());
}

void appendFolder(std::vector<DeviceProfile>& profiles, const fs::path& folder, bool isBuiltin) {
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error) return;
    for (const fs::directory_iterator end; entries != end; entries.increment(error)) {
        if (error) return;
        const fs::path& file = entries->path();
        if (file.extension() != ".json") continue;
        try {
            profiles.push_back(load(file, isBuiltin));
        } catch (const std::exception&) {
            // Unreadable files and files that hold no profile are passed over.
        }
    }
}

// The id becomes a file name unchanged, so it must not leave the folder, hide
// the file or be cut short by the system.
bool usableAsFileName(std::string_view id) {
    return !id.empty() && id.front() != '.' &&
           id.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

std::string unusableIdMessage(std::string id) {
    std::replace(id.begin(), id.end(), '\0', '?');
    return "ID「" + id + "」はファイル名に使えません";
}

std::string listing(const std::vector<ProfileValidator::Problem>& problems) {
    std::string text;
    for (const auto& problem : problems) {
        if (!text.empty()) text += '\n';
        text += problem.description();
    }
    return text;
}

}  // namespace

ProfileError::ProfileError(std::vector<ProfileValidator::Problem> problems)
    : problems_(std::move(problems)), text_(listing(problems_)) {}

ProfileError ProfileError::invalid(std::vector<ProfileValidator::Problem> problems) {
    return ProfileError(std::move(problems));
}

std::vector<DeviceProfile> loadAll(const std::optional<fs::path>& builtin,
                                   const std::optional<fs::path>& user) {
    std::vector<DeviceProfile> profiles;
    if (builtin) appendFolder(profiles, *builtin, true);
    if (user) appendFolder(profiles, *user, false);
    // Stable: profiles the order doesn't separate keep their loading order,
    // so a delivered profile stays before a user's one of the same id and name.
    std::stable_sort(profiles.begin(), profiles.end(), profileOrder);
    return profiles;
}

DeviceProfile load(const fs::path& file, bool isBuiltin) {
    DeviceProfile profile =
        DeviceProfile::fromJson(json::parse(readSmallFile(file, settingsFileLimit)));
    profile.isBuiltin = isBuiltin;
    profile.fileURL = file;
    return profile;
}

fs::path save(const DeviceProfile& profile, const fs::path& folder) {
    auto problems = ProfileValidator::validate(profile);
    if (!problems.empty()) throw ProfileError::invalid(std::move(problems));
    if (!usableAsFileName(profile.id)) throw ConversionError(unusableIdMessage(profile.id));

    const fs::path file = folder / (profile.id + ".json");
    writeFileAtomically(file, json::pretty(profile.toJson()));
    return file;
}

bool profileOrder(const DeviceProfile& a, const DeviceProfile& b) {
    const std::size_t rankA = rankOf(a.id);
    const std::size_t rankB = rankOf(b.id);
    if (rankA != rankB) return rankA < rankB;
    return text::compareNames(a.name, b.name) < 0;
}

}  // namespace tarvik::ProfileStore
