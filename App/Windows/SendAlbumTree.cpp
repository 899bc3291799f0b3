#include "App/Windows/SendAlbumTree.hpp"

#include <QApplication>
#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include "App/Kit/Icons.hpp"
#include "App/Kit/Palette.hpp"
#include "App/Kit/PaletteWatcher.hpp"
#include "App/Kit/QtText.hpp"
#include "App/Kit/RoundedCorners.hpp"
#include "App/Kit/TextStyle.hpp"
#include "App/Windows/SendToSDState.hpp"

namespace tarvik {

namespace {

constexpr int countRole = Qt::UserRole + 1;  // "3 アルバム" of a group header

// Group headers carry their album count in a smaller, paler text right after
// the artist's name.
class HeaderDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        const QString count = index.data(countRole).toString();
        if (count.isEmpty()) return;
        QStyleOptionViewItem item(option);
        initStyleOption(&item, index);
        const QStyle* style = item.widget != nullptr ? item.widget->style() : QApplication::style();
        const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &item, item.widget);
        const int margin =
            style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, item.widget) + 1;
        const int left =
            text.left() + margin + QFontMetrics(item.font).horizontalAdvance(item.text) + 8;
        if (left >= text.right()) return;
        painter->save();
        painter->setFont(TextStyle::font(TextStyle::captionSize));
        painter->setPen(TextStyle::toneColor(TextStyle::Tone::secondary));
        painter->drawText(QRect(left, text.top(), text.right() - left, text.height()),
                          Qt::AlignVCenter | Qt::AlignLeft, count);
        painter->restore();
    }
};

}  // namespace

SendAlbumTree::SendAlbumTree(SendToSDState& state, QWidget* parent)
    : QTreeWidget(parent), state_(state) {
    setObjectName("albumTree");
    setColumnCount(3);
    setHeaderHidden(true);
    setSelectionMode(QAbstractItemView::NoSelection);
    setFrameShape(QFrame::NoFrame);
    setMinimumHeight(260);
    setItemDelegateForColumn(0, new HeaderDelegate(this));
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::Stretch);
    header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    RoundedCorners::apply(
        this, 8, [] { return Palette::windowBackground(); }, [] { return Palette::border(); });
    PaletteWatcher::watch(this, [this] {
        QPalette palette = this->palette();
        palette.setColor(QPalette::Base, Palette::card());
        palette.setColor(QPalette::Text, TextStyle::toneColor(TextStyle::Tone::primary));
        setPalette(palette);
        fill();  // the rows hold colours of their own
    });

    connect(this, &QTreeWidget::itemChanged, this, &SendAlbumTree::toggled);
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
        if (!updating_) expanded_.insert(item->text(0));
    });
    connect(this, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) {
        if (!updating_) expanded_.erase(item->text(0));
    });
}

void SendAlbumTree::refresh(std::vector<SendContent::ArtistGroup> groups,
                            std::set<std::string> busy) {
    groups_ = std::move(groups);
    busy_ = std::move(busy);
    std::vector<std::string> shape;
    for (const SendContent::ArtistGroup& group : groups_) {
        shape.push_back("\n" + group.artist);
        for (const SendContent::Album& album : group.albums) shape.push_back(album.id());
    }
    if (shape != shape_) {
        shape_ = std::move(shape);
        rebuild();
    }
    fill();
}

// A new list or filter: new rows, with the groups the user opened open again
// and the list scrolled where it was.
void SendAlbumTree::rebuild() {
    updating_ = true;
    const int scrolled = verticalScrollBar()->value();
    clear();
    for (const SendContent::ArtistGroup& group : groups_) {
        auto* artist = new QTreeWidgetItem(this);
        artist->setText(0, qt(group.artist));
        artist->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        artist->setFont(0, TextStyle::font(14, QFont::DemiBold));
        artist->setData(0, countRole, QString::number(group.albums.size()) + " アルバム");
        artist->setFirstColumnSpanned(true);
        for (const SendContent::Album& album : group.albums) {
            auto* row = new QTreeWidgetItem(artist);
            row->setText(0, qt(album.name));
            row->setData(0, idRole, qt(album.id()));
            row->setText(2, qt(SendContent::albumSize(album)));
            row->setFont(1, TextStyle::font(TextStyle::captionSize));
            row->setFont(2, TextStyle::font(TextStyle::captionSize));
            row->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
        }
        artist->setExpanded(expanded_.contains(artist->text(0)));
    }
    // The scroll range follows the new rows only once they are laid out.
    doItemsLayout();
    updateGeometries();
    verticalScrollBar()->setValue(scrolled);
    updating_ = false;
}

// Ticks, marks and colours of the rows as they stand in the state now.
void SendAlbumTree::fill() {
    if (topLevelItemCount() != static_cast<int>(groups_.size())) return;
    updating_ = true;
    for (std::size_t index = 0; index < groups_.size(); ++index) {
        QTreeWidgetItem* artist = topLevelItem(static_cast<int>(index));
        fillArtist(artist, groups_[index]);
        for (int row = 0; row < artist->childCount(); ++row)
            fillAlbum(artist->child(row), groups_[index].albums[static_cast<std::size_t>(row)]);
    }
    updating_ = false;
}

void SendAlbumTree::fillArtist(QTreeWidgetItem* item, const SendContent::ArtistGroup& group) {
    const bool on = SendContent::artistTicked(group, state_.picked(), busy_);
    item->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
    item->setForeground(0, TextStyle::toneColor(TextStyle::Tone::primary));
}

void SendAlbumTree::fillAlbum(QTreeWidgetItem* item, const SendContent::Album& album) {
    const bool busy = busy_.contains(album.id());
    const bool onCard = state_.onCard().contains(album.id());
    // A busy album keeps its tick but cannot change it until its export is done.
    item->setFlags(busy ? Qt::ItemIsUserCheckable : Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
    item->setCheckState(0, state_.picked().contains(album.id()) ? Qt::Checked : Qt::Unchecked);
    item->setForeground(
        0, TextStyle::toneColor(busy ? TextStyle::Tone::secondary : TextStyle::Tone::primary));
    item->setForeground(2, TextStyle::toneColor(TextStyle::Tone::secondary));
    if (busy || onCard) {
        const Palette::Name colour = busy ? Palette::Name::warning : Palette::Name::success;
        item->setText(1, busy ? "書き出し中" : "SD にあり");
        item->setIcon(
            1, Icons::icon(busy ? Icons::Symbol::hourglass : Icons::Symbol::checkmarkCircleFill, 12,
                           Palette::color(colour)));
        item->setForeground(1, Palette::color(colour));
    } else {
        item->setText(1, {});
        item->setIcon(1, {});
    }
}

void SendAlbumTree::toggled(QTreeWidgetItem* item) {
    if (updating_) return;
    const bool on = item->checkState(0) == Qt::Checked;
    if (item->parent() == nullptr) {
        const int index = indexOfTopLevelItem(item);
        if (index >= 0 && index < static_cast<int>(groups_.size()))
            state_.setArtistPicked(groups_[static_cast<std::size_t>(index)], on);
    } else {
        state_.setAlbumPicked(item->data(0, idRole).toString().toStdString(), on);
    }
}

}  // namespace tarvik
