#include "Core/Testing/Script.hpp"

#include <string>

#include "Core/Testing/TempDir.hpp"

namespace tarvik::testing {

std::filesystem::path writeScript(const std::filesystem::path& path, std::string_view body) {
    writeFile(path, "#!/bin/sh\n" + std::string(body) + "\n");
    std::filesystem::permissions(
        path, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                  std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                  std::filesystem::perms::others_exec);
    return path;
}

}  // namespace tarvik::testing
