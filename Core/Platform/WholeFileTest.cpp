#include <gtest/gtest.h>
#include <sys/stat.h>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/WholeFile.hpp"
#include "Core/Testing/TempDir.hpp"
#include "Core/Testing/Thrown.hpp"

namespace tarvik {
namespace {

// Every byte of a file larger than one read; a missing file, a folder or a
// pipe (refused at once, not waited on) is an error that names the file.
TEST(WholeFile, ReadsEveryByteOrNamesTheFile) {
    testing::TempDir temp;
    std::string content(200'000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
    testing::writeFile(temp / "big.bin", content);
    EXPECT_EQ(asText(readWholeFile(temp / "big.bin")), content);
    std::filesystem::create_directories(temp / "folder.mp3");
    ASSERT_EQ(::mkfifo((temp / "fifo.mp3").c_str(), 0600), 0);
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"missing.mp3", "missing.mp3（" + systemReason(ENOENT) + "）"},
        {"folder.mp3", "folder.mp3（ファイルではありません）"},
        {"fifo.mp3", "fifo.mp3（ファイルではありません）"},
    };
    for (const auto& [name, message] : cases) {
        EXPECT_EQ(testing::thrown<ConversionError>([&] { readWholeFile(temp / name); }),
                  "読み込めません: " + message);
    }
}

}  // namespace
}  // namespace tarvik
