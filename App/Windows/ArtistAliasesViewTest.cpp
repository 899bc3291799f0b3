#include <gtest/gtest.h>

#include <QMenu>
#include <QTest>
#include <QToolButton>
#include <fstream>

#include "App/Platform/AppPaths.hpp"
#include "App/Windows/AliasContent.hpp"
#include "App/Windows/WindowsTesting.hpp"

namespace tarvik {
namespace {

using Group = std::vector<std::string>;
using Pairs = std::vector<std::pair<std::string, std::string>>;
using testing::click;

Pairs pairs(const std::vector<ArtistAliases::Entry>& entries) {
    Pairs result;
    for (const auto& entry : entries) result.emplace_back(entry.from, entry.to);
    return result;
}

Pairs stored() {
    return pairs(ArtistAliases::load(AppPaths::aliasesFile()).entries);
}

TEST(AliasContentTest, GroupsOfOneNameWrittenDifferently) {
    const std::vector<std::string> artists{"ab", "AB", "Other", "A B"};
    ArtistAliases working;
    const auto groups = AliasContent::suggestions(artists, working);
    ASSERT_EQ(groups, std::vector<Group>{Group({"A B", "AB", "ab"})});
    EXPECT_EQ(AliasContent::groupText(groups[0]), "A B ／ AB ／ ab");

    AliasContent::merge(working, groups[0], "ab");
    EXPECT_EQ(pairs(working.entries), (Pairs{{"A B", "ab"}, {"AB", "ab"}}));
    EXPECT_TRUE(AliasContent::suggestions(artists, working).empty());

    ArtistAliases single;
    AliasContent::merge(single, {"ab"}, "ab");
    EXPECT_EQ(pairs(single.entries), (Pairs{{"ab", "ab"}}));

    // Rows with a blank side are dropped on save.
    EXPECT_EQ(
        pairs(AliasContent::kept({{"  ", "x"}, {"y", ""}, {" Kurune ", "くるね"}, {"\t", "\t"}})),
        (Pairs{{" Kurune ", "くるね"}}));
}

TEST(AliasContentTest, AtMostEightSuggestions) {
    std::vector<std::string> artists;
    for (char c = 'a'; c <= 'j'; ++c)
        artists.insert(artists.end(),
                       {std::string{c, 'x'}, std::string{static_cast<char>(c - 'a' + 'A'), 'X'}});
    const auto groups = AliasContent::suggestions(artists, {});
    ASSERT_EQ(groups.size(), 8U);
    EXPECT_EQ(groups.front(), Group({"AX", "ax"}));
}

using Sheet = testing::AliasSheet;

TEST(ArtistAliasesViewTest, MergingASuggestionAddsRowsAndSaves) {
    Sheet sheet({"AB", "ab", "A B"});
    sheet.view->show();
    QApplication::processEvents();
    EXPECT_EQ(testing::labelText(*sheet.view, "aliasSuggestionNames"), "A B ／ AB ／ ab");
    QMenu* menu = sheet.view->findChild<QToolButton*>("mergeMenuButton")->menu();
    ASSERT_EQ(menu->actions().size(), 3);
    EXPECT_EQ(menu->actions()[2]->text().toStdString(), "「ab」にそろえる");
    menu->actions()[2]->trigger();
    QApplication::processEvents();
    EXPECT_TRUE(sheet.view->findChild<QWidget*>("aliasSuggestions")->isHidden());
    ASSERT_EQ(sheet.fields("aliasFrom").size(), 2);
    // Restored from minimised, the rows not yet saved stay.
    testing::minimiseAndRestore(*sheet.view);
    ASSERT_EQ(sheet.fields("aliasFrom").size(), 2);

    // A blank row is dropped on save; Return saves.
    click(*sheet.view, "addAliasButton");
    QTest::keyClick(sheet.view.get(), Qt::Key_Return);
    EXPECT_EQ(sheet.view->result(), QDialog::Accepted);
    EXPECT_FALSE(sheet.view->isVisible());
    EXPECT_EQ(stored(), (Pairs{{"A B", "ab"}, {"AB", "ab"}}));
}

TEST(ArtistAliasesViewTest, CancelLeavesTheFileAndAFailedSaveStaysOpenWithItsReason) {
    Sheet sheet;
    ArtistAliases{{{"Kurune Tobari", "くるねとばり"}}}.save(AppPaths::aliasesFile());
    sheet.view->show();
    ASSERT_EQ(sheet.fields("aliasFrom").size(), 1);
    QTest::keyClicks(sheet.fields("aliasTo")[0], "X");
    click(*sheet.view, "removeAliasButton");
    QApplication::processEvents();
    EXPECT_TRUE(sheet.fields("aliasFrom").empty());
    QTest::keyClick(sheet.view.get(), Qt::Key_Escape);
    EXPECT_EQ(sheet.view->result(), QDialog::Rejected);
    EXPECT_EQ(stored(), (Pairs{{"Kurune Tobari", "くるねとばり"}}));

    sheet.view->show();  // reopened, the sheet shows the file again
    QApplication::processEvents();
    ASSERT_EQ(sheet.fields("aliasTo").size(), 1);
    EXPECT_EQ(sheet.fields("aliasTo")[0]->text().toStdString(), "くるねとばり");
    click(*sheet.view, "addAliasButton");
    QTest::keyClicks(sheet.fields("aliasFrom")[1], "ab");
    QTest::keyClicks(sheet.fields("aliasTo")[1], "AB");
    // A folder where the file should go: the file cannot replace it.
    std::filesystem::remove(AppPaths::aliasesFile());
    std::filesystem::create_directories(AppPaths::aliasesFile() / "in-the-way");
    click(*sheet.view, "aliasSaveButton");
    EXPECT_TRUE(sheet.view->isVisible());
    EXPECT_TRUE(testing::shown(*sheet.view, "aliasError"));
    EXPECT_TRUE(
        testing::labelText(*sheet.view, "aliasError").starts_with("保存できませんでした: "));

    std::filesystem::remove_all(AppPaths::aliasesFile());
    click(*sheet.view, "aliasSaveButton");
    EXPECT_FALSE(sheet.view->isVisible());
    EXPECT_EQ(stored(), (Pairs{{"Kurune Tobari", "くるねとばり"}, {"ab", "AB"}}));
}

}  // namespace
}  // namespace tarvik
