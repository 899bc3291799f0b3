#include <gtest/gtest.h>

#include <filesystem>

#include "Core/Platform/AtomicFile.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Testing/FileSizeLimit.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using testing::readFile;
using testing::TempDir;
using testing::writeFile;

std::size_t entriesIn(const std::filesystem::path& folder) {
    return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder),
                                                  std::filesystem::directory_iterator()));
}

TEST(AtomicFile, CreatesFoldersAndReplacesTheTarget) {
    TempDir temp;
    const auto target = temp / "a" / "b" / "file.json";
    writeFileAtomically(target, "first");
    EXPECT_EQ(readFile(target), "first");
    writeFileAtomically(target, "second");
    EXPECT_EQ(readFile(target), "second");
    EXPECT_EQ(entriesIn(target.parent_path()), 1U);  // no temporary file left
}

TEST(AtomicFile, FailedWriteLeavesTheEarlierFileAndNoTemporary) {
    TempDir temp;
    const auto target = temp / "file.json";
    writeFile(target, "old");
    {
        testing::FileSizeLimit limit(8);
        ASSERT_TRUE(limit.active());
        try {
            writeFileAtomically(target, "a text longer than the limit");
            FAIL() << "no error";
        } catch (const ConversionError& error) {
            EXPECT_EQ(std::string(error.what()).rfind("書き込めません: file.json（", 0), 0U)
                << error.what();
        }
    }
    EXPECT_EQ(readFile(target), "old");
    EXPECT_EQ(entriesIn(temp.path()), 1U);
}

TEST(AtomicFile, TargetThatIsAFolderFailsWithTheNameAndKeepsIt) {
    TempDir temp;
    std::filesystem::create_directories(temp / "taken" / "inner");
    try {
        writeFileAtomically(temp / "taken", "x");
        FAIL() << "no error";
    } catch (const ConversionError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("書き込めません: taken（", 0), 0U)
            << error.what();
    }
    EXPECT_TRUE(std::filesystem::is_directory(temp / "taken" / "inner"));
    EXPECT_EQ(entriesIn(temp.path()), 1U);
}

}  // namespace
}  // namespace tarvik
