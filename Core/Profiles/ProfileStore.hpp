// The device profiles on disk: the delivered ones (read-only resources) and
// the user's own, one JSON file per profile, loaded into one list in display
// order, and the user's saved after validation. Stateless; blocks the calling
// thread on file input and output; safe from any thread. Loading never fails
// (what can't be read is passed over); saving throws ProfileError for an
// invalid profile and ConversionError when the file can't be written, and
// then leaves nothing new on disk.
#pragma once

#include <array>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Profiles/DeviceProfile.hpp"
#include "Core/Profiles/ProfileValidator.hpp"

namespace tarvik::ProfileStore {

// A refused save. Its only kind is `invalid`, with the validator's problems in
// the validator's order; its text lists them one a line.
class ProfileError : public std::exception {
public:
    enum class Kind { invalid };

    static ProfileError invalid(std::vector<ProfileValidator::Problem> problems);

    Kind kind() const { return Kind::invalid; }
    const std::vector<ProfileValidator::Problem>& problems() const { return problems_; }
    const char* what() const noexcept override { return text_.c_str(); }

    bool operator==(const ProfileError& other) const { return problems_ == other.problems_; }

private:
    explicit ProfileError(std::vector<ProfileValidator::Problem> problems);

    std::vector<ProfileValidator::Problem> problems_;
    std::string text_;
};

// The delivered profiles lead the list in this order; every other id follows.
inline constexpr std::array<std::string_view, 5> builtinOrder{
    "panasonic-hds940d", "generic-mp3", "mp3-with-art", "aac-m4a", "mp3-strict"};

// A profile file that is not listed because another file carries its id.
struct SetAside {
    std::string id;
    std::filesystem::path file;    // passed over, left as it is
    std::filesystem::path listed;  // the file listed for that id

    bool operator==(const SetAside&) const = default;
};

struct Listing {
    std::vector<DeviceProfile> profiles;
    std::vector<SetAside> setAside;  // in the order of their paths
};

// The delivered folder's profiles, then the user's, sorted stably by
// profileOrder. An absent or unlistable folder counts as empty; a file that
// can't be read or isn't a profile is skipped. An id is listed once, since
// the pickers and the selection know a profile by its id alone: the user's
// file before a delivered one (it is the user's own version), within one
// folder the file named after the id, then the first name in byte order. The
// others are reported, never removed.
Listing list(const std::optional<std::filesystem::path>& builtin,
             const std::optional<std::filesystem::path>& user);
// The profiles of `list`.
std::vector<DeviceProfile> loadAll(const std::optional<std::filesystem::path>& builtin,
                                   const std::optional<std::filesystem::path>& user);

// One profile file, current or older form, with isBuiltin and fileURL set.
// Throws ConversionError when the file can't be read and DecodingError when it
// holds no profile.
DeviceProfile load(const std::filesystem::path& file, bool isBuiltin);

// Writes `profile` atomically in the current form as folder/<id>.json
// (pretty-printed, keys sorted) and returns the path written; an earlier file
// of that name is replaced. A profile read from another file of the folder
// (an older file named otherwise, or one whose id the model renewed) is
// written back in place of that file, which then takes the name
// <id>.json in one step where that name is free; where it is not, the file
// keeps its name, unless the name holds this id's listed file, which then
// takes the save. So a save never leaves a second listing of the profile.
// Throws ProfileError when the validator finds problems and ConversionError
// when the id can't be a file name or the folder or file can't be written;
// in every such case no folder or file is created or changed.
std::filesystem::path save(const DeviceProfile& profile, const std::filesystem::path& folder);

// Whether the id can name the profile's file: not empty, not hidden, no
// folder separator, no NUL.
bool usableAsFileName(std::string_view id);

// Whether a comes before b: delivered ids by their place in builtinOrder, then
// every other id; within one rank by name under the shared name order.
bool profileOrder(const DeviceProfile& a, const DeviceProfile& b);

}  // namespace tarvik::ProfileStore
