#pragma once
// The read-only table of the review sheet: a header that stays in place over a
// scrolling body of single-line rows in alternating fills, with columns that
// share the width by fixed weights. Rows are asked for only when they come into
// view, so a plan of tens of thousands of songs opens at once. No selection,
// sorting or editing. GUI thread only; the owner replaces the rows whenever
// what they show changes.
#include <QAbstractTableModel>
#include <QFrame>
#include <functional>
#include <vector>

#include "App/Windows/ReviewContent.hpp"

class QTableView;

namespace tarvik {

class StripedHeader;

// The table's rows as the view asks for them: how many there are, and the
// cells of one row (at most one per header).
struct StripedRows {
    int count = 0;
    std::function<std::vector<Cell>(int row)> row;
};

class StripedTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit StripedTableModel(QObject* parent = nullptr);

    void setContents(std::vector<TableHeader> headers, StripedRows rows);
    const std::vector<TableHeader>& headers() const { return headers_; }
    Cell cell(int row, int column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    std::vector<TableHeader> headers_;
    StripedRows rows_;
    // The row last built: a row is painted cell by cell, and building it once
    // per paint instead of once per cell keeps scrolling cheap.
    mutable int cachedIndex_ = -1;
    mutable std::vector<Cell> cachedRow_;
};

class StripedTable : public QFrame {
    Q_OBJECT

public:
    static constexpr int rowHeight = 26;
    static constexpr int cornerRadius = 8;

    explicit StripedTable(QWidget* parent = nullptr);

    void setContents(std::vector<TableHeader> headers, StripedRows rows);
    const StripedTableModel& model() const { return *model_; }
    QTableView& body() const { return *body_; }
    // The column widths for a row `width` wide: W × weight ÷ sum of weights,
    // rounded so that they add up to exactly `width`.
    static std::vector<int> columnWidths(const std::vector<TableHeader>& headers, int width);
    // The colour of a cell's text under the current appearance.
    static QColor textColor(const Cell& cell, bool header);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void layoutColumns();

    StripedTableModel* model_;
    StripedHeader* header_;
    QTableView* body_;
};

}  // namespace tarvik
