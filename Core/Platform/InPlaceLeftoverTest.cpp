#include <gtest/gtest.h>

#include <charconv>
#include <functional>
#include <limits>

#include "Core/Platform/InPlaceLeftover.hpp"
#include "Core/Platform/Sha256.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;
using Held = InPlaceLeftover::Held;

// A leftover's name fits the 143 bytes an encrypted home folder allows,
// whatever numbers the volume gives its files, and says the new content it
// was putting in place.
TEST(InPlaceLeftover, NameStaysWithinWhatEveryHomeFolderAllowsAndSaysItsContent) {
    constexpr std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    const NewContent content{most, 0, sha256Hex("ours")};
    const FileIdentity largest{most, most, most, std::numeric_limits<std::int64_t>::max()};
    const std::string name = InPlaceLeftover::name(largest, largest, content);
    EXPECT_LE(name.size(), 143u) << name;
    EXPECT_EQ(InPlaceLeftover::contentNamedBy(name), content);
    EXPECT_EQ(InPlaceLeftover::contentNamedBy(name.substr(0, name.size() - 1)), std::nullopt);
}

// What a leftover held is told by its name, in this version's form and in
// the forms older versions wrote (with a digest or without one).
TEST(InPlaceLeftover, LeftoverIsPutRightWhicheverVersionNamedIt) {
    const testing::TempDir dir;
    const std::string bytes = "ours, whole";
    const NewContent content{bytes.size(), 0, sha256Hex(bytes)};
    const auto hex = [](std::uint64_t number) {
        char digits[17] = {};
        std::to_chars(digits, digits + 16, number, 16);
        return std::string(digits);
    };
    // Both identities whole in base 16, then the digest where `digest`.
    const auto older = [&](const FileIdentity& a, const FileIdentity& b, bool digest) {
        std::string name(InPlaceLeftover::prefix);
        for (const FileIdentity* identity : {&a, &b}) {
            name += hex(identity->inode) + "-" + hex(identity->size) + "-" +
                    hex(static_cast<std::uint64_t>(identity->modified)) + "-";
        }
        return digest ? name + content.sha256 : name.substr(0, name.size() - 1);
    };
    // The name given the leftover's own identity and another file's.
    using Naming = std::function<std::string(const FileIdentity&, const FileIdentity&)>;
    struct Case {
        const char* what;
        Naming name;
        std::optional<Held> held;
    };
    const Case cases[] = {
        {"this version's name",
         [&](auto held, auto other) { return InPlaceLeftover::name(held, other, content); },
         Held::unplaced},
        {"an older name with a digest",
         [&](auto held, auto other) { return older(held, other, true); }, Held::unplaced},
        {"an older name without one",
         [&](auto held, auto other) { return older(held, other, false); }, Held::unplaced},
        {"an older name, the replaced file",
         [&](auto held, auto other) { return older(other, held, false); }, Held::replaced},
        {"this version's name, the replaced file",
         [&](auto held, auto other) { return InPlaceLeftover::name(other, held, content); },
         Held::replaced},
        {"not a leftover's name",
         [](auto, auto) { return std::string(InPlaceLeftover::prefix) + "1-2-3"; }, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testing::writeFile(dir / "made", bytes);
        const FileIdentity held = *FileIdentity::at(dir / "made");
        const FileIdentity other{held.device, held.inode + 1, 5, held.modified + 1};
        const fs::path leftover = dir / c.name(held, other);
        fs::rename(dir / "made", leftover);
        EXPECT_EQ(InPlaceLeftover::settle(leftover), c.held);
        EXPECT_EQ(fs::exists(leftover), !c.held.has_value());
        fs::remove(leftover);
    }
}

}  // namespace
}  // namespace tarvik
