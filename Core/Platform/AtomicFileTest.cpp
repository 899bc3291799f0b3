#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "Core/Platform/AtomicFile.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/FileSizeLimit.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using testing::readFile;
using testing::TempDir;

std::size_t entriesIn(const std::filesystem::path& folder) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

TEST(AtomicFile, CreatesFoldersAndReplacesTheTarget) {
    TempDir temp;
    const auto target = temp / "a" / "b" / "file.json";
    writeFileAtomically(target, "first");
    writeFileAtomically(target, "second");
    EXPECT_EQ(readFile(target), "second");
    EXPECT_EQ(entriesIn(target.parent_path()), 1U);  // no temporary file left
}

// A write that fails part-way (a full card) or a target that is a folder: the
// error names the file, what was there stays, and no temporary is left.
TEST(AtomicFile, FailedWriteKeepsWhatWasThere) {
    for (const bool full : {true, false}) {
        TempDir temp;
        const auto target = temp / "file.json";
        std::optional<testing::FileSizeLimit> limit;
        if (full) {
            testing::writeFile(target, "old");
            ASSERT_TRUE(limit.emplace(8).active());
        } else {
            std::filesystem::create_directories(target / "inner");
        }
        try {
            writeFileAtomically(target, "a text longer than the limit");
            ADD_FAILURE() << "no error";
        } catch (const ConversionError& error) {
            EXPECT_TRUE(std::string(error.what()).starts_with("書き込めません: file.json（"))
                << error.what();
        }
        limit.reset();
        EXPECT_TRUE(full ? readFile(target) == "old" : is_directory(target / "inner"));
        EXPECT_EQ(entriesIn(temp.path()), 1U);
    }
}

}  // namespace
}  // namespace tarvik
