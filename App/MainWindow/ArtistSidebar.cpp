#include "App/MainWindow/ArtistSidebar.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QVBoxLayout>

#include "App/Kit/ElidedLabel.hpp"
#include "App/Kit/Icons.hpp"
#include "App/Kit/QtText.hpp"
#include "App/Kit/TextStyle.hpp"
#include "App/MainWindow/StepContent.hpp"
#include "App/Model/AppModel.hpp"

namespace tarvik {

namespace {

constexpr int nameRole = Qt::UserRole;

// Rows that ask for no width of their own: the list lays each one out as wide
// as the column, and a name longer than that ends in "…" (the view's elide
// mode) instead of widening the list until it scrolls sideways.
class ColumnWideRows : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return {0, QStyledItemDelegate::sizeHint(option, index).height()};
    }
};

// One album-only choice: the disc, "artist ／ album" and the button that drops it.
QWidget* albumRow(AppModel& model, const std::string& entry, QWidget* parent) {
    auto* row = new QWidget(parent);
    row->setObjectName("albumEntry");
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(6, 2, 6, 2);
    auto* disc = new QLabel(row);
    Icons::show(disc, Icons::Symbol::opticaldisc, 14, Icons::color(Palette::Name::accentText));
    auto* text = new ElidedLabel(row);
    text->setText(qt(StepContent::albumEntryText(entry)));
    auto* remove = new QToolButton(row);
    remove->setObjectName("removeAlbumEntry");
    remove->setAutoRaise(true);
    remove->setToolTip("はずす");
    remove->setAccessibleName("はずす");
    Icons::show(remove, Icons::Symbol::xmarkCircleFill, 14,
                Icons::tone(TextStyle::Tone::secondary));
    QObject::connect(remove, &QToolButton::clicked, &model, [&model, entry] {
        std::set<std::string> selected = model.selected();
        selected.erase(entry);
        model.setSelected(std::move(selected));
    });
    layout->addWidget(disc);
    layout->addWidget(text, 1);
    layout->addWidget(remove);
    return row;
}

}  // namespace

ArtistSidebar::ArtistSidebar(AppModel& model, QWidget* parent)
    : QWidget(parent),
      model_(model),
      search_(new QLineEdit(this)),
      empty_(new QWidget(this)),
      emptyText_(new QLabel(empty_)),
      list_(new QListWidget(this)),
      count_(new QLabel(this)),
      countTail_(new QLabel(this)) {
    setObjectName("artistSidebar");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 10, 0, 10);
    column->setSpacing(8);

    auto* heading = new QHBoxLayout;
    heading->setContentsMargins(12, 0, 12, 0);
    auto* headingIcon = new QLabel(this);
    Icons::show(headingIcon, Icons::Symbol::musicMic, 16, Icons::color(Palette::Name::accentText));
    auto* headingText = new QLabel("アーティスト", this);
    TextStyle::setFont(headingText, 16, QFont::Bold);
    heading->addWidget(headingIcon);
    heading->addWidget(headingText, 1);

    search_->setObjectName("artistSearch");
    search_->setPlaceholderText("名前で探す");
    search_->setClearButtonEnabled(true);
    connect(search_, &QLineEdit::textEdited, this,
            [this](const QString& text) { model_.setSearch(text.toStdString()); });
    auto* searchRow = new QHBoxLayout;
    searchRow->setContentsMargins(12, 0, 12, 0);
    searchRow->addWidget(search_);

    empty_->setObjectName("sidebarEmpty");
    auto* emptyColumn = new QVBoxLayout(empty_);
    emptyColumn->setSpacing(10);
    auto* emptyIcon = new QLabel(empty_);
    Icons::show(emptyIcon, Icons::Symbol::musicNoteList, 34,
                Icons::tone(TextStyle::Tone::tertiary));
    emptyText_->setObjectName("sidebarEmptyText");
    emptyText_->setAlignment(Qt::AlignCenter);
    emptyText_->setWordWrap(true);
    // The callout size keeps each line whole in the narrowest column.
    TextStyle::setCallout(emptyText_);
    TextStyle::setTone(emptyText_, TextStyle::Tone::secondary);
    emptyColumn->addStretch();
    emptyColumn->addWidget(emptyIcon, 0, Qt::AlignHCenter);
    emptyColumn->addWidget(emptyText_);
    emptyColumn->addStretch();

    list_->setObjectName("artistList");
    list_->setFrameShape(QFrame::NoFrame);
    list_->setUniformItemSizes(false);
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->setItemDelegate(new ColumnWideRows(list_));
    list_->setTextElideMode(Qt::ElideRight);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // A sidebar list: the rows sit on the column's own background, the tick
    // boxes keep theirs.
    list_->viewport()->setBackgroundRole(QPalette::Window);
    connect(list_, &QListWidget::itemChanged, this, &ArtistSidebar::artistToggled);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(12, 0, 12, 0);
    auto* selectShown = new QPushButton("表示中を全部選ぶ", this);
    selectShown->setObjectName("selectShownButton");
    auto* clear = new QPushButton("選択をはずす", this);
    clear->setObjectName("clearSelectionButton");
    for (QPushButton* b : {selectShown, clear}) TextStyle::setCallout(b);
    connect(selectShown, &QPushButton::clicked, this, [this] {
        model_.setSelected(StepContent::withShown(model_.selected(), model_.filteredArtists()));
    });
    connect(clear, &QPushButton::clicked, this, [this] { model_.setSelected({}); });
    buttons->addWidget(selectShown);
    buttons->addWidget(clear);
    buttons->addStretch();

    auto* countRow = new QHBoxLayout;
    countRow->setContentsMargins(12, 0, 12, 0);
    countRow->setSpacing(6);
    count_->setObjectName("selectionCountNumber");
    TextStyle::setFont(count_, 14, QFont::Bold);
    countTail_->setObjectName("selectionCountTail");
    TextStyle::setCaption(countTail_);
    TextStyle::setTone(countTail_, TextStyle::Tone::secondary);
    countRow->addWidget(count_);
    countRow->addWidget(countTail_, 1);

    column->addLayout(heading);
    column->addLayout(searchRow);
    column->addWidget(empty_, 1);
    column->addWidget(list_, 1);
    column->addLayout(buttons);
    column->addLayout(countRow);

    connect(&model_, &AppModel::artistsChanged, this, &ArtistSidebar::rebuildArtists);
    connect(&model_, &AppModel::searchChanged, this, &ArtistSidebar::rebuildArtists);
    connect(&model_, &AppModel::srcPathChanged, this, &ArtistSidebar::rebuildArtists);
    connect(&model_, &AppModel::selectedChanged, this, &ArtistSidebar::refreshSelection);
    connect(&model_, &AppModel::stateChanged, this, [this] { setEnabled(!model_.isBusy()); });
    rebuildArtists();
    setEnabled(!model_.isBusy());
}

void ArtistSidebar::rebuildArtists() {
    updating_ = true;
    if (search_->text().toStdString() != model_.search()) search_->setText(qt(model_.search()));
    const bool none = model_.artists().empty();
    empty_->setVisible(none);
    list_->setVisible(!none);
    emptyText_->setText(qt(StepContent::sidebarEmptyText(
        model_.srcPath(), model_.musicFolderMissing(), model_.musicFolderChecking())));
    list_->clear();
    albumRows_ = 0;
    for (const std::string& name : model_.filteredArtists()) {
        const StepContent::ArtistRow row = StepContent::artistRow(name);
        auto* item = new QListWidgetItem(qt(row.text), list_);
        // The folder's bytes: a name that is not UTF-8 would not survive a QString.
        item->setData(nameRole, QByteArray::fromStdString(name));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        if (row.unreadable) {
            item->setIcon(Icons::icon(Icons::Symbol::exclamationmarkTriangleFill, 14,
                                      Palette::color(Palette::Name::warning)));
            item->setToolTip(qt(*row.unreadable));
            item->setData(Qt::AccessibleTextRole, qt(row.text + "（" + *row.unreadable + "）"));
        }
    }
    updating_ = false;
    refreshSelection();
}

void ArtistSidebar::refreshSelection() {
    updating_ = true;
    rebuildAlbumSection();
    const auto& selected = model_.selected();
    for (int row = albumRows_; row < list_->count(); ++row) {
        QListWidgetItem* item = list_->item(row);
        const bool on =
            StepContent::isTicked(selected, item->data(nameRole).toByteArray().toStdString());
        item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
    updating_ = false;
    refreshCount();
}

void ArtistSidebar::rebuildAlbumSection() {
    for (; albumRows_ > 0; --albumRows_) delete list_->takeItem(0);
    const std::vector<std::string> entries = StepContent::albumEntries(model_.selected());
    if (entries.empty()) return;
    auto* header = new QListWidgetItem("アルバムだけ選んだもの");
    header->setFlags(Qt::ItemIsEnabled);
    header->setFont(TextStyle::font(TextStyle::captionSize, QFont::Bold));
    header->setForeground(TextStyle::toneColor(TextStyle::Tone::secondary));
    list_->insertItem(0, header);
    albumRows_ = 1;
    for (const std::string& entry : entries) {
        auto* item = new QListWidgetItem;
        item->setFlags(Qt::ItemIsEnabled);
        list_->insertItem(albumRows_, item);
        QWidget* row = albumRow(model_, entry, list_);
        item->setSizeHint(row->sizeHint());
        list_->setItemWidget(item, row);
        ++albumRows_;
    }
}

void ArtistSidebar::artistToggled(QListWidgetItem* item) {
    if (updating_ || list_->row(item) < albumRows_) return;
    const std::string name = item->data(nameRole).toByteArray().toStdString();
    model_.setSelected(item->checkState() == Qt::Checked
                           ? StepContent::ticked(model_.selected(), name)
                           : StepContent::unticked(model_.selected(), name));
}

void ArtistSidebar::refreshCount() {
    // A folder that is gone has no count of artists to give; the selection
    // is kept for its return, said again when it is back.
    const bool missing = model_.musicFolderMissing();
    count_->setVisible(!missing);
    countTail_->setVisible(!missing);
    const std::size_t n = model_.selected().size();
    count_->setText(QString::number(n));
    if (n > 0)
        TextStyle::setColor(count_, Palette::Name::accentText);
    else
        TextStyle::setTone(count_, TextStyle::Tone::secondary);
    countTail_->setText(qt(StepContent::countTail(model_.artists().size())));
}

}  // namespace tarvik
