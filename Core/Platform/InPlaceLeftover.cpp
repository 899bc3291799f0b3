#include "Core/Platform/InPlaceLeftover.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <system_error>
#include <vector>

#include "Core/Platform/FileStreams.hpp"
#include "Core/Platform/Sha256.hpp"

namespace tarvik::InPlaceLeftover {
namespace {

struct Named {
    // The new content's own inode and time are in names of older versions
    // only: a name that says them is judged by them first.
    std::optional<FileIdentity> ours;
    std::uint64_t ourSize = 0;
    FileIdentity replaced;
    std::optional<std::string> sha256;  // absent in names of older versions
};

// How many numbers each form of the name holds before its digest: the
// replaced file's inode, size and time and the new content's size, in base
// 32; older versions wrote both identities whole, in base 16.
constexpr std::size_t numbersNow = 4, numbersBefore = 6;
constexpr int baseNow = 32, baseBefore = 16;

// The "-"-separated numbers and digest the name holds after the prefix.
std::optional<std::vector<std::string_view>> partsOf(std::string_view name) {
    if (!name.starts_with(prefix)) return std::nullopt;
    name.remove_prefix(prefix.size());
    std::vector<std::string_view> parts;
    for (std::size_t dash; parts.size() <= numbersBefore;) {
        dash = name.find('-');
        parts.push_back(name.substr(0, dash));
        if (dash == std::string_view::npos) return parts;
        name.remove_prefix(dash + 1);
    }
    return std::nullopt;
}

std::optional<std::uint64_t> numberIn(std::string_view digits, int base) {
    std::uint64_t number = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), number, base);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return number;
}

// What `name` says; the device is the folder's.
std::optional<Named> parse(std::string_view name, std::uint64_t device) {
    const std::optional<std::vector<std::string_view>> parts = partsOf(name);
    if (!parts) return std::nullopt;
    const bool now = parts->size() == numbersNow + 1;
    const std::size_t count = now ? numbersNow : numbersBefore;
    if (!now && parts->size() != numbersBefore && parts->size() != numbersBefore + 1) {
        return std::nullopt;
    }
    std::array<std::uint64_t, numbersBefore> numbers{};
    for (std::size_t i = 0; i < count; ++i) {
        const std::optional<std::uint64_t> number =
            numberIn((*parts)[i], now ? baseNow : baseBefore);
        if (!number) return std::nullopt;
        numbers[i] = *number;
    }
    Named named;
    if (parts->size() > count) {
        if (!isSha256Hex(parts->back())) return std::nullopt;
        named.sha256 = std::string(parts->back());
    }
    const auto identity = [&](std::size_t at) {
        return FileIdentity{device, numbers[at], numbers[at + 1],
                            static_cast<std::int64_t>(numbers[at + 2])};
    };
    if (now) {
        named.replaced = identity(0);
        named.ourSize = numbers[3];
    } else {
        named.ours = identity(0);
        named.ourSize = named.ours->size;
        named.replaced = identity(3);
    }
    return named;
}

// Whether the file at `path` is our new content: any file with its bytes (a
// volume mounted again numbers its files anew), or, where only an older
// name's identity tells, the very file.
bool isOurs(const std::filesystem::path& path, const Named& named) {
    if (named.ours && FileIdentity::at(path) == named.ours) return true;
    return named.sha256 && NewContent{named.ourSize, 0, *named.sha256}.isIn(path);
}

}  // namespace

std::string name(const FileIdentity& ours, const FileIdentity& replaced,
                 const NewContent& content) {
    // Within the 143 bytes that an encrypted home folder allows a name,
    // whatever the numbers: 13 + 4 × (13 + 1) + 64.
    std::string name(prefix);
    for (const std::uint64_t number : {replaced.inode, replaced.size,
                                       static_cast<std::uint64_t>(replaced.modified), ours.size}) {
        std::array<char, 16> digits{};
        const auto end = std::to_chars(digits.begin(), digits.end(), number, baseNow).ptr;
        name.append(digits.begin(), end).push_back('-');
    }
    return name + content.sha256;
}

std::optional<NewContent> contentNamedBy(std::string_view name) {
    const std::optional<Named> named = parse(name, 0);
    if (!named || !named->sha256) return std::nullopt;
    return NewContent{named->ourSize, named->ours ? named->ours->modified : 0, *named->sha256};
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
