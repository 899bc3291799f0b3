#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "Core/Platform/AtomicFile.hpp"
#include "Core/Platform/Errors.hpp"
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

TEST(AtomicFile, FailureLeavesTheEarlierFileAndNoTemporary) {
    if (::geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
    TempDir temp;
    const auto folder = temp / "locked";
    writeFile(folder / "file.json", "old");
    std::filesystem::permissions(
        folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_THROW(writeFileAtomically(folder / "file.json", "new"), ConversionError);
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    EXPECT_EQ(readFile(folder / "file.json"), "old");
    EXPECT_EQ(entriesIn(folder), 1U);
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

TEST(AtomicFile, FolderThatCannotBeMadeIsReported) {
    TempDir temp;
    writeFile(temp / "plain", "file, not folder");
    try {
        writeFileAtomically(temp / "plain" / "sub" / "x.json", "x");
        FAIL() << "no error";
    } catch (const ConversionError& error) {
        EXPECT_EQ(std::string(error.what()).rfind("フォルダを作れません: ", 0), 0U) << error.what();
    }
}

}  // namespace
}  // namespace tarvik
