#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/WholeFile.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

using testing::TempDir;

TEST(WholeFile, ReadsEveryByteOfFilesLargerThanOneRead) {
    TempDir temp;
    std::string content(200'000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    testing::writeFile(temp / "big.bin", content);
    Bytes read = readWholeFile(temp / "big.bin");
    EXPECT_EQ(asText(read), content);
}

TEST(WholeFile, MissingFileAndFolderAreReportedWithTheName) {
    TempDir temp;
    std::filesystem::create_directories(temp / "folder.mp3");
    // A pipe is refused at once, not waited on.
    ASSERT_EQ(::mkfifo((temp / "fifo.mp3").c_str(), 0600), 0);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"missing.mp3", "読み込めません: missing.mp3（" + systemReason(ENOENT) + "）"},
        {"folder.mp3", "読み込めません: folder.mp3（ファイルではありません）"},
        {"fifo.mp3", "読み込めません: fifo.mp3（ファイルではありません）"},
    };
    for (const auto& [name, message] : cases) {
        try {
            readWholeFile(temp / name);
            ADD_FAILURE() << name << ": no error";
        } catch (const ConversionError& error) {
            EXPECT_EQ(std::string(error.what()), message);
        }
    }
}

}  // namespace
}  // namespace tarvik
