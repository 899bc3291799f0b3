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

namespace tarvik::ProfileStore {
namespace {

namespace fs = std::filesystem;

// Position in builtinOrder; every other id shares the rank after the last.
std::size_t rankOf(std::string_view id) {
    auto found = std::find(builtinOrder.begin(), builtinOrder.end(), id);
    return static_cast<std::size_t>(found - builtinOrder.begin());
}

class Descriptor {
public:
    explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
    ~Descriptor() {
        if (descriptor_ >= 0) ::close(descriptor_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return descriptor_; }

private:
    int descriptor_;
};

std::string readProfileFile(const fs::path& file) {
    const std::string name = file.filename().string();
    // Non-blocking, so that a pipe or device that happens to end in ".json"
    // is refused below instead of stalling the start of the application.
    const Descriptor descriptor(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (descriptor.get() < 0) throw ConversionError(fileSystemMessage("読めません: ", name, errno));
    struct stat status {};
    if (::fstat(descriptor.get(), &status) != 0) {
        throw ConversionError(fileSystemMessage("読めません: ", name, errno));
    }
    if (!S_ISREG(status.st_mode)) {
        throw ConversionError("読めません: " + name + "（ファイルではありません）");
    }
    std::string bytes;
    char buffer[16384];
    for (;;) {
        const ssize_t count = ::read(descriptor.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) continue;
            throw ConversionError(fileSystemMessage("読めません: ", name, errno));
        }
        if (count == 0) break;
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
    return bytes;
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
    DeviceProfile profile = DeviceProfile::fromJson(json::parse(readProfileFile(file)));
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
