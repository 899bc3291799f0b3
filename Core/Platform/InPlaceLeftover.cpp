#include "Core/Platform/InPlaceLeftover.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <system_error>

#include "Core/Platform/FileStreams.hpp"
#include "Core/Platform/Sha256.hpp"

namespace tarvik::InPlaceLeftover {
namespace {

struct Named {
    FileIdentity ours, replaced;
    std::optional<std::string> sha256;  // absent in names of older versions
};

// What `name` says: six hexadecimal numbers (inode, size and modification
// time of each identity), then the digest where the name has one. The
// device is the folder's.
std::optional<Named> parse(std::string_view name, std::uint64_t device) {
    if (!name.starts_with(prefix)) return std::nullopt;
    name.remove_prefix(prefix.size());
    std::array<std::uint64_t, 6> numbers{};
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        const auto [end, error] =
            std::from_chars(name.data(), name.data() + name.size(), numbers[i], 16);
        if (error != std::errc()) return std::nullopt;
        name.remove_prefix(static_cast<std::size_t>(end - name.data()));
        if (i + 1 < numbers.size() || !name.empty()) {
            if (!name.starts_with('-')) return std::nullopt;
            name.remove_prefix(1);
        }
    }
    if (!name.empty() && !isSha256Hex(name)) return std::nullopt;
    const auto identity = [&](std::size_t at) {
        return FileIdentity{device, numbers[at], numbers[at + 1],
                            static_cast<std::int64_t>(numbers[at + 2])};
    };
    return Named{identity(0), identity(3),
                 name.empty() ? std::nullopt : std::optional(std::string(name))};
}

// Whether the file at `path` is our new content: the very file, or, where
// the name has a digest, any file with its bytes (a volume mounted again
// numbers its files anew).
bool isOurs(const std::filesystem::path& path, const Named& named) {
    if (FileIdentity::at(path) == named.ours) return true;
    return named.sha256 &&
           NewContent{named.ours.size, named.ours.modified, *named.sha256}.isIn(path);
}

}  // namespace

std::string name(const FileIdentity& ours, const FileIdentity& replaced,
                 const NewContent& content) {
    std::string name(prefix);
    for (const FileIdentity* identity : {&ours, &replaced}) {
        for (const std::uint64_t number :
             {identity->inode, identity->size, static_cast<std::uint64_t>(identity->modified)}) {
            std::array<char, 16> digits{};
            const auto end = std::to_chars(digits.begin(), digits.end(), number, 16).ptr;
            name.append(digits.begin(), end).push_back('-');
        }
    }
    return name + content.sha256;
}

std::optional<NewContent> contentNamedBy(std::string_view name) {
    const std::optional<Named> named = parse(name, 0);
    if (!named || !named->sha256) return std::nullopt;
    return NewContent{named->ours.size, named->ours.modified, *named->sha256};
}

std::optional<Held> settle(const std::filesystem::path& leftover) {
    struct stat facts {};
    if (::lstat(leftover.c_str(), &facts) != 0 || !S_ISREG(facts.st_mode)) return std::nullopt;
    const std::optional<Named> named =
        parse(leftover.filename().string(), static_cast<std::uint64_t>(facts.st_dev));
    if (!named) return std::nullopt;
    const FileIdentity held = FileIdentity::of(facts);
    const std::filesystem::path folder = leftover.parent_path();
    const bool replaced = held == named->replaced;
    if (replaced || isOurs(leftover, *named)) {
        if (::unlink(leftover.c_str()) != 0) return std::nullopt;
        syncFolder(folder);
        return replaced ? Held::replaced : Held::unplaced;
    }
    // Another program's save that came out of the exchange: it takes the
    // place of the new content again, wherever that has its name now.
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        if (it->path() == leftover || !isOurs(it->path(), *named)) continue;
        if (!exchangeNames(leftover, it->path())) break;
        if (isOurs(leftover, *named)) ::unlink(leftover.c_str());
        syncFolder(folder);
        return Held::putBack;
    }
    return Held::anotherSave;
}

}  // namespace tarvik::InPlaceLeftover
