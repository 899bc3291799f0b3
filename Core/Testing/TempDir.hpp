// A private temporary folder for one test, removed with everything in it when
// the object goes away.
#pragma once

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <string_view>

namespace tarvik::testing {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Writes `content` to `path`, creating folders on the way.
void writeFile(const std::filesystem::path& path, std::string_view content);
std::string readFile(const std::filesystem::path& path);

// Writes each of `files` (content keyed by the path below `root`) as writeFile does.
void writeFiles(const std::filesystem::path& root, const std::map<std::string, std::string>& files);

// Every regular file below `root` with its content, keyed by its path below the root.
std::map<std::string, std::string> filesBelow(const std::filesystem::path& root);

// Every folder below `root`, by its path below the root.
std::set<std::string> foldersBelow(const std::filesystem::path& root);

}  // namespace tarvik::testing
