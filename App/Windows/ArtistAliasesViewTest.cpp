#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
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

// A kept row is refused where an earlier kept row already sends its name
// elsewhere; a row a save drops neither is refused nor refuses.
TEST(AliasContentTest, RowsThatSendANameAgainAreRefused) {
    // rows, then each refused row with the target the earlier row gives its name
    const std::vector<std::pair<Pairs, std::map<std::size_t, std::string>>> cases = {
        {{{"Kurune", "くるね"}, {" kurune ", "KURUNE"}}, {{1, "くるね"}}},
        {{{"Kurune", "くるね"}, {"KURUNE", "くるね"}}, {}},
        {{{"Kurune", ""}, {"kurune", "KURUNE"}}, {}},
        {{{"Kurune", "くるね"}, {"", "x"}, {"くるね", "Tobari"}, {"kurune", "B"}},
         {{2, "くるね"}, {3, "くるね"}}}};
    for (const auto& [rows, refusedAt] : cases) {
        ArtistAliases working;
        for (const auto& [from, to] : rows) working.entries.emplace_back(from, to);
        std::map<std::string, std::string> expected;
        for (const auto& [i, earlierTarget] : refusedAt) {
            expected[working.entries[i].id] =
                AliasContent::mappedTwiceText(working.entries[i].from, earlierTarget);
        }
        EXPECT_EQ(AliasContent::refusedRows(working), expected) << rows.size();
    }
    EXPECT_EQ(AliasContent::mappedTwiceText(" kurune ", "くるね"),
              "「kurune」は上の行で「くるね」にそろえています。1 つの名前は 1 つの名前にしか"
              "そろえられません。");
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
    // A folder where the file should go: the file cannot replace it. Each
    // change of the place is told first, and the rows stay.
    std::filesystem::remove(AppPaths::aliasesFile());
    std::filesystem::create_directories(AppPaths::aliasesFile() / "in-the-way");
    click(*sheet.view, "aliasSaveButton");
    EXPECT_EQ(testing::labelText(*sheet.view, "aliasError"), AliasContent::changedMeanwhileText);
    click(*sheet.view, "aliasSaveButton");
    EXPECT_TRUE(sheet.view->isVisible());
    EXPECT_TRUE(testing::shown(*sheet.view, "aliasError"));
    EXPECT_TRUE(
        testing::labelText(*sheet.view, "aliasError").starts_with("保存できませんでした: "));

    std::filesystem::remove_all(AppPaths::aliasesFile());
    click(*sheet.view, "aliasSaveButton");
    EXPECT_EQ(testing::labelText(*sheet.view, "aliasError"), AliasContent::changedMeanwhileText);
    click(*sheet.view, "aliasSaveButton");
    EXPECT_FALSE(sheet.view->isVisible());
    EXPECT_EQ(stored(), (Pairs{{"Kurune Tobari", "くるねとばり"}, {"ab", "AB"}}));
}

// A row that sends a name an earlier row already sends elsewhere says so
// under it as soon as it is typed, and Save refuses and writes nothing until
// it is mended.
TEST(ArtistAliasesViewTest, ANameMappedTwiceIsRefusedOnItsRow) {
    Sheet sheet;
    sheet.view->show();
    const auto type = [&](int row, const char* from, const char* to) {
        QTest::keyClicks(sheet.fields("aliasFrom")[row], from);
        QTest::keyClicks(sheet.fields("aliasTo")[row], to);
    };
    const auto refusals = [&] {
        std::vector<std::string> shown;
        for (QLabel* label : sheet.view->findChildren<QLabel*>("aliasRowRefusal"))
            if (label->isVisibleTo(sheet.view.get())) shown.push_back(label->text().toStdString());
        return shown;
    };
    click(*sheet.view, "addAliasButton");
    click(*sheet.view, "addAliasButton");
    type(0, "Kurune Tobari", "KURUNE TOBARI");
    type(1, "kurune tobari", "Tobari");
    const std::string refused = AliasContent::mappedTwiceText("kurune tobari", "KURUNE TOBARI");
    EXPECT_EQ(refusals(), std::vector<std::string>{refused});
    click(*sheet.view, "aliasSaveButton");
    EXPECT_TRUE(sheet.view->isVisible());
    EXPECT_EQ(testing::labelText(*sheet.view, "aliasError"), AliasContent::refusedSaveText);
    EXPECT_EQ(refusals(), std::vector<std::string>{refused});
    EXPECT_FALSE(std::filesystem::exists(AppPaths::aliasesFile()));

    QLineEdit* target = sheet.fields("aliasTo")[1];
    target->selectAll();
    QTest::keyClicks(target, "KURUNE TOBARI");
    EXPECT_TRUE(refusals().empty());
    EXPECT_FALSE(testing::shown(*sheet.view, "aliasError"));
    click(*sheet.view, "aliasSaveButton");
    EXPECT_FALSE(sheet.view->isVisible());
    EXPECT_EQ(stored(),
              (Pairs{{"Kurune Tobari", "KURUNE TOBARI"}, {"kurune tobari", "KURUNE TOBARI"}}));
}

// An alias file cut off, with a stray byte or a null: the sheet names it
// above its empty rows, and a save keeps it beside the new file byte for
// byte, so that none of its aliases is lost.
TEST(ArtistAliasesViewTest, ADamagedFileIsNamedAndASaveKeepsItBeside) {
    std::string many = R"({"entries": [)";
    for (int i = 0; i < 51; ++i)
        many += (i ? ", " : "") + std::string(R"({"from": "Name )") + std::to_string(i) +
                R"(", "to": "N"})";
    const std::vector<std::string> damages = {many, many + "\xE9]}", many + ", null]}"};
    for (const std::string& bytes : damages) {
        Sheet sheet;
        testing::writeFile(AppPaths::aliasesFile(), bytes);
        sheet.view->show();
        EXPECT_TRUE(testing::shown(*sheet.view, "aliasFileDamaged"));
        EXPECT_NE(testing::labelText(*sheet.view, "aliasFileDamaged")
                      .find("「" + AppPaths::aliasesFile().string() + "」を読めませんでした"),
                  std::string::npos);
        EXPECT_TRUE(sheet.fields("aliasFrom").empty());
        click(*sheet.view, "addAliasButton");
        QTest::keyClicks(sheet.fields("aliasFrom")[0], "ab");
        QTest::keyClicks(sheet.fields("aliasTo")[0], "AB");
        click(*sheet.view, "aliasSaveButton");
        EXPECT_FALSE(sheet.view->isVisible());
        EXPECT_EQ(stored(), (Pairs{{"ab", "AB"}}));
        std::vector<std::string> kept;
        for (const auto& entry :
             std::filesystem::directory_iterator(AppPaths::aliasesFile().parent_path())) {
            if (entry.path().filename().string().starts_with("artist-aliases.damaged-"))
                kept.push_back(testing::readFile(entry.path()));
        }
        EXPECT_EQ(kept, std::vector<std::string>{bytes});
        sheet.view->show();  // reopened over the saved file, the sheet says nothing of it
        EXPECT_FALSE(testing::shown(*sheet.view, "aliasFileDamaged"));
    }
}

// Two sheets (two windows of the program) on one data folder: the second
// save writes nothing, shows the other's rows below its own and says so;
// saved again, the file holds both, and neither window's row is lost.
TEST(ArtistAliasesViewTest, TwoWindowsSavingTheFileKeepEachOthersRows) {
    Sheet sheet;
    ArtistAliasesView other(*sheet.f.model);
    // Types a new row at the end of `view`'s rows.
    const auto addRow = [](ArtistAliasesView& view, const char* from, const char* to) {
        click(view, "addAliasButton");
        QList<QLineEdit*> froms, tos;
        for (QLineEdit* field : view.findChildren<QLineEdit*>("aliasFrom"))
            if (field->isVisibleTo(&view) && field->text().isEmpty()) froms.push_back(field);
        for (QLineEdit* field : view.findChildren<QLineEdit*>("aliasTo"))
            if (field->isVisibleTo(&view) && field->text().isEmpty()) tos.push_back(field);
        QTest::keyClicks(froms.at(0), from);
        QTest::keyClicks(tos.at(0), to);
    };
    ArtistAliases{{{"Kurune Tobari", "くるねとばり"}}}.save(AppPaths::aliasesFile());
    sheet.view->show();
    other.show();
    addRow(other, "ab", "AB");
    click(other, "aliasSaveButton");
    EXPECT_FALSE(other.isVisible());
    EXPECT_EQ(stored(), (Pairs{{"Kurune Tobari", "くるねとばり"}, {"ab", "AB"}}));

    addRow(*sheet.view, "cd", "CD");
    click(*sheet.view, "aliasSaveButton");
    EXPECT_TRUE(sheet.view->isVisible());
    EXPECT_EQ(testing::labelText(*sheet.view, "aliasError"), AliasContent::changedMeanwhileText);
    EXPECT_EQ(stored(), (Pairs{{"Kurune Tobari", "くるねとばり"}, {"ab", "AB"}}));
    EXPECT_EQ(pairs(sheet.view->workingCopy().entries),
              (Pairs{{"Kurune Tobari", "くるねとばり"}, {"cd", "CD"}, {"ab", "AB"}}));
    ASSERT_EQ(sheet.fields("aliasFrom").size(), 3);
    click(*sheet.view, "aliasSaveButton");
    EXPECT_FALSE(sheet.view->isVisible());
    EXPECT_EQ(stored(), (Pairs{{"Kurune Tobari", "くるねとばり"}, {"cd", "CD"}, {"ab", "AB"}}));
}

}  // namespace
}  // namespace tarvik
