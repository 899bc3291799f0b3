#include <gmock/gmock.h>

#include "Core/Platform/AtomicFile.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/FileSizeLimit.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Testing/Thrown.hpp"

namespace tarvik {
namespace {

// A write replaces the target whole, making its folders. One that fails
// part-way (a full card), or a target that is a folder, is an error naming the
// file, and what was there stays. No temporary file is ever left.
TEST(AtomicFile, ReplacesTheTargetWholeOrKeepsWhatWasThere) {
    testing::TempDir temp;
    const auto folder = temp / "a" / "b";
    writeFileAtomically(folder / "file.json", "first");
    writeFileAtomically(folder / "file.json", "second");
    std::filesystem::create_directories(folder / "folder.json" / "inner");
    const auto failure = [&](const std::string& name) {
        return testing::thrown<ConversionError>(
            [&] { writeFileAtomically(folder / name, "a text longer than the limit"); });
    };
    EXPECT_THAT(failure("folder.json"), ::testing::StartsWith("書き込めません: folder.json（"));
    {
        testing::FileSizeLimit limit(8);
        ASSERT_TRUE(limit.active());
        EXPECT_THAT(failure("file.json"), ::testing::StartsWith("書き込めません: file.json（"));
    }
    EXPECT_EQ(testing::filesBelow(temp.path()),
              (std::map<std::string, std::string>{{"a/b/file.json", "second"}}));
    EXPECT_TRUE(std::filesystem::is_directory(folder / "folder.json" / "inner"));
}

}  // namespace
}  // namespace tarvik
