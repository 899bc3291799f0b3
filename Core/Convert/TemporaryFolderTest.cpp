#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <optional>

#include "Core/Convert/TemporaryFolder.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

// A folder in use is locked, so that no sweep takes it; one that can't be
// locked (here: no descriptor left for the lock) is never left behind unlocked.
TEST(TemporaryFolderTest, IsLockedWhileInUseOrNotMadeAtAll) {
    testing::TempDir root;
    std::optional<TemporaryFolder> folder(std::in_place, root.path(), "tarvik-");
    const int other = ::open(folder->path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    EXPECT_NE(::flock(other, LOCK_EX | LOCK_NB), 0);
    ::close(other);
    folder.reset();
    EXPECT_TRUE(std::filesystem::is_empty(root.path()));

    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const int next = ::dup(0);  // the lowest free descriptor, which the lock would take
    ::close(next);
    rlimit none = limit;
    none.rlim_cur = static_cast<rlim_t>(next);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &none), 0);
    std::string failure;
    try {
        TemporaryFolder refused(root.path(), "tarvik-");
    } catch (const ConversionError& error) {
        ::setrlimit(RLIMIT_NOFILE, &limit);  // the sanitizers' checks need descriptors too
        failure = error.what();
    }
    ::setrlimit(RLIMIT_NOFILE, &limit);
    EXPECT_TRUE(failure.starts_with("作業フォルダを確保できません: ")) << failure;
    EXPECT_TRUE(std::filesystem::is_empty(root.path()));
}

}  // namespace
}  // namespace tarvik
