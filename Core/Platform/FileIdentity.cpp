#include "Core/Platform/FileIdentity.hpp"

#include "Core/Platform/FileStreams.hpp"
#include "Core/Platform/Sha256.hpp"

namespace tarvik {

FileIdentity FileIdentity::of(const struct stat& facts) {
    return {
        static_cast<std::uint64_t>(facts.st_dev), static_cast<std::uint64_t>(facts.st_ino),
        static_cast<std::uint64_t>(facts.st_size),
        static_cast<std::int64_t>(facts.st_mtim.tv_sec) * 1'000'000'000 + facts.st_mtim.tv_nsec};
}

std::optional<FileIdentity> FileIdentity::at(const std::filesystem::path& path) {
    struct stat facts {};
    if (::lstat(path.c_str(), &facts) != 0 || !S_ISREG(facts.st_mode)) return std::nullopt;
    return of(facts);
}

bool NewContent::isIn(const std::filesystem::path& path) const {
    const std::optional<FileIdentity> facts = FileIdentity::at(path);
    if (!facts || facts->size != size) return false;
    try {
        FileSource file(path, facts);
        return sha256Hex(file) == sha256;
    } catch (const std::exception&) {
        return false;  // unreadable, or changed while read: not known to be it
    }
}

}  // namespace tarvik
