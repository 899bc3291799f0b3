#include "Core/Profiles/ProfileStore.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <map>
#include <system_error>
#include <utility>

#include "Core/Platform/AtomicFile.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/FileStreams.hpp"
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

// Which of two files of one id is listed: the user's own, then the file
// named after the id, then the first name in byte order.
bool listedBefore(const DeviceProfile& a, const DeviceProfile& b) {
    if (a.isBuiltin != b.isBuiltin) return !a.isBuiltin;
    const std::string own = a.id + ".json";
    const bool aOwn = a.fileURL->filename() == own;
    const bool bOwn = b.fileURL->filename() == own;
    if (aOwn != bOwn) return aOwn;
    return a.fileURL->filename().native() < b.fileURL->filename().native();
}

// The file the profile was read from, when it is another file of `folder`
// than `file` and still a file there.
std::optional<fs::path> formerFile(const DeviceProfile& profile, const fs::path& folder,
                                   const fs::path& file) {
    if (!profile.fileURL) return std::nullopt;
    const fs::path& former = *profile.fileURL;
    struct stat status {};
    if (::lstat(former.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;
    std::error_code error;
    if (!fs::equivalent(former.parent_path(), folder, error) || error) return std::nullopt;
    if (former.filename() == file.filename() || fs::equivalent(former, file, error))
        return std::nullopt;
    return former;
}

bool nameIsFree(const fs::path& file) {
    struct stat status {};
    return ::lstat(file.c_str(), &status) != 0 && errno == ENOENT;
}

bool holdsProfile(const fs::path& file, const std::string& id) {
    try {
        return load(file, false).id == id;
    } catch (const std::exception&) {
        return false;
    }
}

// Gives `former` the name `file` unless something took that name meanwhile;
// where the system can't rename without replacing, it keeps its name, still
// the one file of its profile.
fs::path moveIfFree(const fs::path& former, const fs::path& file) {
    if (::renameat2(AT_FDCWD, former.c_str(), AT_FDCWD, file.c_str(), RENAME_NOREPLACE) != 0)
        return former;
    syncFolder(file.parent_path());
    return file;
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

bool usableAsFileName(std::string_view id) {
    // The id becomes a file name unchanged, so it must not leave the folder,
    // hide the file or be cut short by the system.
    return !id.empty() && id.front() != '.' &&
           id.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

Listing list(const std::optional<fs::path>& builtin, const std::optional<fs::path>& user) {
    std::vector<DeviceProfile> loaded;
    if (builtin) appendFolder(loaded, *builtin, true);
    if (user) appendFolder(loaded, *user, false);

    Listing listing;
    std::map<std::string, std::size_t> keeperOf;  // id -> index in listing.profiles
    for (DeviceProfile& profile : loaded) {
        const auto [kept, fresh] = keeperOf.try_emplace(profile.id, listing.profiles.size());
        if (fresh) {
            listing.profiles.push_back(std::move(profile));
            continue;
        }
        DeviceProfile& keeper = listing.profiles[kept->second];
        if (listedBefore(profile, keeper)) std::swap(profile, keeper);
        listing.setAside.push_back({profile.id, *profile.fileURL, {}});
    }
    for (SetAside& aside : listing.setAside)
        aside.listed = *listing.profiles[keeperOf.at(aside.id)].fileURL;
    std::sort(listing.setAside.begin(), listing.setAside.end(),
              [](const SetAside& a, const SetAside& b) { return a.file < b.file; });
    // Stable: profiles the order doesn't separate keep their loading order.
    std::stable_sort(listing.profiles.begin(), listing.profiles.end(), profileOrder);
    return listing;
}

std::vector<DeviceProfile> loadAll(const std::optional<fs::path>& builtin,
                                   const std::optional<fs::path>& user) {
    return list(builtin, user).profiles;
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
    const std::string bytes = json::pretty(profile.toJson());
    if (const std::optional<fs::path> former = formerFile(profile, folder, file)) {
        if (nameIsFree(file)) {
            // In place first, so that at every moment the profile has one file.
            writeFileAtomically(*former, bytes);
            return moveIfFree(*former, file);
        }
        if (!holdsProfile(file, profile.id)) {
            writeFileAtomically(*former, bytes);
            return *former;
        }
        // The file of that name is the one listed for the id: it takes the
        // save, and the former file stays as it was, set aside.
    }
    writeFileAtomically(file, bytes);
    return file;
}

bool profileOrder(const DeviceProfile& a, const DeviceProfile& b) {
    const std::size_t rankA = rankOf(a.id);
    const std::size_t rankB = rankOf(b.id);
    if (rankA != rankB) return rankA < rankB;
    return text::compareNames(a.name, b.name) < 0;
}

}  // namespace tarvik::ProfileStore
