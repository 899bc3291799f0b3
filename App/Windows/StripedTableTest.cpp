#include <gtest/gtest.h>

#include <QTableView>
#include <QtTest>

#include "App/Windows/StripedTable.hpp"

namespace tarvik {
namespace {

TEST(StripedTableTest, ColumnsShareTheWidthByWeightAndFillItExactly) {
    struct Case {
        std::vector<double> weights;
        int width;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {{3, 2, 2, 3}, 1000, {300, 200, 200, 300}},
        {{3, 3, 3}, 100, {33, 34, 33}},  // rounding never loses a pixel
        {{1}, 7, {7}},
        {{0, 0}, 500, {0, 0}},  // no weight: nothing to share out
    };
    for (const Case& c : cases) {
        std::vector<TableHeader> headers;
        for (double weight : c.weights) headers.push_back({"h", weight});
        EXPECT_EQ(StripedTable::columnWidths(headers, c.width), c.expected) << c.width;
    }
}

// A plan of tens of thousands of songs must open without building every row.
TEST(StripedTableTest, BuildsOnlyTheRowsInView) {
    StripedTable table;
    int built = 0;
    table.setContents({{"曲名", 3}, {"場所", 3}},
                      {20'000, [&built](int row) {
                           ++built;
                           return std::vector<Cell>{{"曲 " + std::to_string(row)}, {"MUSIC", true}};
                       }});
    table.resize(600, 400);
    table.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&table));
    table.grab();
    EXPECT_GT(built, 0);
    EXPECT_LT(built, 200);
    EXPECT_EQ(table.body().rowHeight(0), StripedTable::rowHeight);
    EXPECT_EQ(table.model().cell(19'999, 0).text, "曲 19999");
    EXPECT_EQ(table.model().cell(20'000, 0), Cell{});
}

}  // namespace
}  // namespace tarvik
