#include <gtest/gtest.h>

#include <QObject>

#include "App/Model/ChooserStarts.hpp"
#include "App/Testing/AppTesting.hpp"
#include "Core/Testing/TempDir.hpp"

namespace tarvik {
namespace {

namespace fs = std::filesystem;

// A chooser opens in the folder wanted only where that is a folder: what is
// gone, or a file, opens it in the home folder, as does no folder at all. A
// link among its entries that leads nowhere has answered all the same.
TEST(ChooserStartsTest, OpensInTheFolderWantedOnlyWhereThatIsAFolder) {
    testing::TempDir temp;
    fs::create_directories(temp / "Music" / "Aoi");
    fs::create_directory_symlink(temp / "Unplugged" / "Bob", temp / "Music" / "Bob");
    fs::create_directory_symlink(temp / "Music", temp / "Linked");
    testing::writeFile(temp / "song.mp3", "x");
    const std::vector<std::pair<fs::path, fs::path>> cases = {
        {temp / "Music", temp / "Music"},
        {temp / "Linked", temp / "Linked"},
        {temp / "Gone", ChooserStarts::home()},
        {temp / "song.mp3", ChooserStarts::home()},
        {{}, ChooserStarts::home()},
    };
    QObject receiver;
    ChooserStarts starts{GuiOutlet(&receiver)};
    for (const auto& [wanted, start] : cases) {
        std::optional<fs::path> opened;
        starts.ask(wanted, [&](const fs::path& folder) { opened = folder; });
        EXPECT_TRUE(testing::waitUntil([&] { return opened.has_value(); })) << wanted;
        EXPECT_EQ(opened, start) << wanted;
    }
}

}  // namespace
}  // namespace tarvik
