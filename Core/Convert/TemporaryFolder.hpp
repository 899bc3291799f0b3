#pragma once
// The private folder of one conversion, removed with everything in it when
// the conversion ends, however it ends. Created exclusively and readable by
// this user only: other users on the machine must not see or plant files in
// it. It stays locked (flock on the folder) while it is in use: the lock ends
// with the process, which is how a later run tells an abandoned folder. One
// owner, any thread.
#include <filesystem>
#include <string_view>

namespace tarvik {

class TemporaryFolder {
public:
    // A new folder "<prefix><UUID>" in `root`. Throws ConversionError when it
    // can't be made or locked; a folder that can't be locked is removed at
    // once, since another run would take it for abandoned and sweep it away.
    TemporaryFolder(const std::filesystem::path& root, std::string_view prefix);
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    int lock_ = -1;
};

}  // namespace tarvik
