#include "App/Platform/AppPaths.hpp"

#include <QDir>
#include <cstdlib>
#include <system_error>

#include "Core/Naming/ArtistAliases.hpp"

namespace tarvik::AppPaths {

namespace {

// An XDG variable counts only when it holds an absolute path.
std::optional<std::filesystem::path> xdg(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || value[0] != '/') return std::nullopt;
    return std::filesystem::path(value);
}

std::filesystem::path home() {
    return QDir::homePath().toStdString();
}

}  // namespace

QString configDirectory() {
    const auto dir = xdg("XDG_CONFIG_HOME");
    return QString::fromStdString((dir ? *dir : home() / ".config").string());
}

std::filesystem::path supportDirectory() {
    const auto dir = xdg("XDG_DATA_HOME");
    return (dir ? *dir : home() / ".local" / "share") / "Tarvik";
}

std::filesystem::path mediaFolder() {
    const QString user = qEnvironmentVariable("USER");
    if (!user.isEmpty()) {
        for (const QString& candidate : {"/run/media/" + user, "/media/" + user}) {
            std::error_code error;
            if (std::filesystem::is_directory(candidate.toStdString(), error))
                return candidate.toStdString();
        }
    }
    return "/media";
}

std::filesystem::path profilesDirectory() {
    return supportDirectory() / "profiles";
}

std::filesystem::path aliasesFile() {
    return supportDirectory() / ArtistAliases::fileName;
}

std::filesystem::path catalogCacheFile() {
    return supportDirectory() / "catalog.sqlite";
}

std::filesystem::path legacyCatalogCacheFile() {
    return supportDirectory() / "catalog_cache.json";
}

std::optional<std::filesystem::path> resourcesDirectory() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const auto installed = exe.parent_path().parent_path() / "share" / "tarvik";
        if (std::filesystem::is_directory(installed, error)) return installed;
    }
#ifdef TARVIK_SOURCE_RESOURCES
    const std::filesystem::path source = TARVIK_SOURCE_RESOURCES;
    if (std::filesystem::is_directory(source, error)) return source;
#endif
    return std::nullopt;
}

}  // namespace tarvik::AppPaths
