#include "App/Windows/StripedTable.hpp"

#include <QEvent>
#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>
#include <numeric>

#include "App/Kit/Palette.hpp"
#include "App/Kit/RoundedCorners.hpp"
#include "App/Kit/TextStyle.hpp"

namespace tarvik {

namespace {

constexpr int cellPadding = 8;

QFont headerFont() {
    return TextStyle::font(12, QFont::DemiBold);
}
QFont bodyFont() {
    return TextStyle::font(13);
}

}  // namespace

// Header cells and dim cells are secondary; `dim` wins over `tint`.
QColor StripedTable::textColor(const Cell& cell, bool header) {
    if (header || cell.dim) return TextStyle::toneColor(TextStyle::Tone::secondary);
    if (cell.tint) return Palette::teal();
    return TextStyle::toneColor(TextStyle::Tone::primary);
}

namespace {

void paintCell(QPainter& painter, const QRect& slot, const Cell& cell, bool header) {
    const QRect box = slot.adjusted(cellPadding, 0, -cellPadding, 0);
    if (box.width() <= 0) return;
    painter.setPen(StripedTable::textColor(cell, header));
    const QString text = QString::fromStdString(cell.text).simplified();
    painter.drawText(box, Qt::AlignLeft | Qt::AlignVCenter,
                     painter.fontMetrics().elidedText(text, Qt::ElideRight, box.width()));
}

class StripedDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        painter->save();
        painter->fillRect(option.rect, Palette::rowFill(index.row()));
        painter->setFont(bodyFont());
        const auto* model = static_cast<const StripedTableModel*>(index.model());
        paintCell(*painter, option.rect, model->cell(index.row(), index.column()), false);
        painter->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return {0, StripedTable::rowHeight};
    }
};

}  // namespace

// The header row and the line under it; its columns follow the body's so that
// they line up also while the scroll bar takes part of the width.
class StripedHeader : public QWidget {
public:
    StripedHeader(const StripedTableModel& model, QWidget* parent)
        : QWidget(parent), model_(model) {
        setFixedHeight(StripedTable::rowHeight + 1);
    }

    void setColumnWidths(std::vector<int> widths) {
        widths_ = std::move(widths);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Palette::card());
        painter.fillRect(0, StripedTable::rowHeight, width(), 1, Palette::border());
        painter.setFont(headerFont());
        int x = 0;
        const auto& headers = model_.headers();
        for (std::size_t i = 0; i < headers.size() && i < widths_.size(); ++i) {
            paintCell(painter, QRect(x, 0, widths_[i], StripedTable::rowHeight),
                      Cell{headers[i].title, false, false}, true);
            x += widths_[i];
        }
    }

private:
    const StripedTableModel& model_;
    std::vector<int> widths_;
};

StripedTableModel::StripedTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void StripedTableModel::setContents(std::vector<TableHeader> headers, StripedRows rows) {
    beginResetModel();
    headers_ = std::move(headers);
    rows_ = std::move(rows);
    cachedIndex_ = -1;
    cachedRow_.clear();
    endResetModel();
}

Cell StripedTableModel::cell(int row, int column) const {
    if (row < 0 || row >= rows_.count || !rows_.row) return {};
    if (row != cachedIndex_) {
        cachedRow_ = rows_.row(row);
        cachedIndex_ = row;
    }
    return column >= 0 && static_cast<std::size_t>(column) < cachedRow_.size() ? cachedRow_[column]
                                                                               : Cell{};
}

int StripedTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_.count;
}

int StripedTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant StripedTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return QString::fromStdString(cell(index.row(), index.column()).text);
    return {};
}

Qt::ItemFlags StripedTableModel::flags(const QModelIndex& index) const {
    return index.isValid() ? Qt::ItemIsEnabled : Qt::NoItemFlags;
}

StripedTable::StripedTable(QWidget* parent) : QFrame(parent), model_(new StripedTableModel(this)) {
    setObjectName("stripedTable");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    header_ = new StripedHeader(*model_, this);
    header_->setObjectName("stripedTableHeader");
    layout->addWidget(header_);

    body_ = new QTableView(this);
    body_->setObjectName("stripedTableBody");
    body_->setModel(model_);
    body_->setItemDelegate(new StripedDelegate(body_));
    body_->setFrameShape(QFrame::NoFrame);
    body_->setShowGrid(false);
    body_->setSelectionMode(QAbstractItemView::NoSelection);
    body_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    body_->setFocusPolicy(Qt::NoFocus);
    body_->setSortingEnabled(false);
    body_->setWordWrap(false);
    body_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    body_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    body_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    body_->horizontalHeader()->hide();
    body_->verticalHeader()->hide();
    // Fixed heights let the view place rows without asking each one its size.
    body_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    body_->verticalHeader()->setDefaultSectionSize(rowHeight);
    body_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    body_->viewport()->setAutoFillBackground(false);
    body_->viewport()->installEventFilter(this);
    layout->addWidget(body_, 1);

    RoundedCorners::apply(
        this, cornerRadius, [] { return Palette::windowBackground(); },
        [] { return Palette::border(); });
}

void StripedTable::setContents(std::vector<TableHeader> headers, StripedRows rows) {
    model_->setContents(std::move(headers), std::move(rows));
    layoutColumns();
}

std::vector<int> StripedTable::columnWidths(const std::vector<TableHeader>& headers, int width) {
    std::vector<int> widths;
    const double sum =
        std::accumulate(headers.begin(), headers.end(), 0.0,
                        [](double total, const TableHeader& h) { return total + h.weight; });
    if (sum <= 0) return std::vector<int>(headers.size(), 0);
    double edge = 0;
    int previous = 0;
    for (const TableHeader& header : headers) {
        edge += width * header.weight / sum;
        const int next = static_cast<int>(edge + 0.5);
        widths.push_back(next - previous);
        previous = next;
    }
    return widths;
}

void StripedTable::layoutColumns() {
    const std::vector<int> widths = columnWidths(model_->headers(), body_->viewport()->width());
    for (std::size_t i = 0; i < widths.size(); ++i)
        body_->setColumnWidth(static_cast<int>(i), widths[i]);
    header_->setColumnWidths(widths);
}

void StripedTable::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    layoutColumns();
}

// The viewport narrows when the scroll bar appears; the empty area below the
// last row takes the card fill.
bool StripedTable::eventFilter(QObject* watched, QEvent* event) {
    if (watched == body_->viewport()) {
        if (event->type() == QEvent::Resize) layoutColumns();
        if (event->type() == QEvent::Paint) {
            QPainter painter(body_->viewport());
            painter.fillRect(body_->viewport()->rect(), Palette::card());
        }
    }
    return QFrame::eventFilter(watched, event);
}

}  // namespace tarvik
