#include "App/Windows/SendChoosingPage.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "App/Kit/Icons.hpp"
#include "App/Kit/PaletteWatcher.hpp"
#include "App/Kit/QtText.hpp"
#include "App/Kit/SheetButtons.hpp"
#include "App/Kit/SymbolLabel.hpp"
#include "App/Model/AppModel.hpp"
#include "App/Model/ExportDestination.hpp"
#include "App/Windows/SendAlbumTree.hpp"
#include "App/Windows/SendSourceBox.hpp"
#include "App/Windows/SendToSDState.hpp"

namespace tarvik {

namespace {

SymbolLabel* warningLabel(Icons::Symbol symbol, const QString& text, QWidget* parent) {
    auto* label = new SymbolLabel(symbol, text, parent);
    label->setWordWrap(true);
    label->setTextSize(TextStyle::calloutSize);
    label->setColor(Palette::Name::warning);
    return label;
}

// "/exports/タルヴィク/" → "タルヴィク"
QString lastComponent(std::string path) {
    while (path.size() > 1 && path.ends_with('/')) path.pop_back();
    return qt(std::filesystem::path(path).filename().string());
}

}  // namespace

SendChoosingPage::SendChoosingPage(SendToSDState& state, QWidget* parent)
    : QWidget(parent), state_(state) {
    setObjectName("choosingPage");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);

    busyNotice_ = new SymbolLabel(
        Icons::Symbol::hourglass,
        "変換中です。書き上がったアルバムから順に送れます（書き出し中のものは選べません）。", this);
    busyNotice_->setObjectName("busyNotice");
    busyNotice_->setWordWrap(true);
    busyNotice_->setTextSize(TextStyle::calloutSize);
    busyNotice_->setTone(TextStyle::Tone::secondary);
    layout->addWidget(busyNotice_);
    sourceBox_ = new SendSourceBox(state_, this);
    dropHint_ = new SendDropHint(this);
    layout->addWidget(sourceBox_);
    layout->addWidget(dropHint_);

    layout->addWidget(buildLibraryWarning());
    loading_ = new QProgressBar(this);
    loading_->setObjectName("albumsLoading");
    loading_->setRange(0, 0);
    loading_->setTextVisible(false);
    loading_->setMaximumHeight(8);
    PaletteWatcher::watch(loading_, [this] {
        QPalette palette = loading_->palette();
        palette.setColor(QPalette::Highlight, Palette::highlight());
        loading_->setPalette(palette);
    });
    layout->addWidget(loading_);
    // As the main window says of a folder whose file system has not answered yet.
    checking_ = new QLabel(qt(std::string(ExportDestination::checking)), this);
    checking_->setObjectName("albumsChecking");
    TextStyle::setCaption(checking_);
    TextStyle::setTone(checking_, TextStyle::Tone::secondary);
    layout->addWidget(checking_);
    emptyText_ = new QLabel(this);
    emptyText_->setWordWrap(true);
    emptyText_->setObjectName("albumsEmptyText");
    TextStyle::setTone(emptyText_, TextStyle::Tone::secondary);
    layout->addWidget(emptyText_);
    layout->addWidget(buildList(), 1);
    layout->addStretch(0);
}

QWidget* SendChoosingPage::buildLibraryWarning() {
    libraryWarning_ = new QWidget(this);
    libraryWarning_->setObjectName("libraryWarning");
    auto* column = new QVBoxLayout(libraryWarning_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    auto* warning = new SymbolLabel(
        Icons::Symbol::exclamationmarkTriangleFill,
        "ここは ① の「音楽のフォルダ」（変換する前の元の曲）です。ここからは送れません。",
        libraryWarning_);
    warning->setWordWrap(true);
    warning->setColor(Palette::Name::warning);
    auto* explanation = noteLabel(
        "元の曲をカーナビ用にするには、メインの画面の ③「書き出す」で変換します（SD "
        "カードへ直接でも、フォルダへでも）。"
        "この窓は、書き出したフォルダ（タルヴィク など）から SD カードへ写すためのものです。",
        libraryWarning_);
    suggestionButton_ = SheetButtons::small({}, "suggestedSourceButton", libraryWarning_);
    TextStyle::setFont(suggestionButton_, 13);
    connect(suggestionButton_, &QPushButton::clicked, this,
            [this] { state_.useSuggestedSource(); });
    column->addWidget(warning);
    column->addWidget(explanation);
    column->addWidget(suggestionButton_, 0, Qt::AlignLeft);
    return libraryWarning_;
}

QWidget* SendChoosingPage::buildList() {
    list_ = new QWidget(this);
    list_->setObjectName("albumList");
    auto* column = new QVBoxLayout(list_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);

    auto* filterRow = new QHBoxLayout;
    filter_ = new QLineEdit(list_);
    filter_->setObjectName("albumFilter");
    filter_->setPlaceholderText("アーティスト・アルバムで探す");
    filter_->setMaximumWidth(280);
    filter_->setClearButtonEnabled(true);
    filter_->setAcceptDrops(false);  // dropped folders are sent, not typed in
    connect(filter_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text.toStdString() != state_.filter()) state_.setFilter(text.toStdString());
    });
    auto* pickAll = SheetButtons::small("SD にないものを全部選ぶ", "pickAllNotOnCardButton", list_);
    connect(pickAll, &QPushButton::clicked, this, [this] { state_.pickAllNotOnCard(); });
    auto* clear = SheetButtons::small("選択をはずす", "clearPickedButton", list_);
    connect(clear, &QPushButton::clicked, this, [this] { state_.clearPicked(); });
    filterRow->addWidget(filter_, 1);
    filterRow->addWidget(pickAll);
    filterRow->addWidget(clear);
    filterRow->addStretch(0);

    deepWarning_ = warningLabel(
        Icons::Symbol::exclamationmarkTriangleFill,
        "フォルダが 1 段深いアルバムがあります（例: アーティスト/アーティスト/アルバム）。"
        "カーナビではアーティストのフォルダを選ぶと「音楽データがありません」になるので、"
        "「フォルダ内表示」で奥まで進んでください。",
        list_);
    deepWarning_->setObjectName("deepFolderWarning");
    tree_ = new SendAlbumTree(state_, list_);

    auto* bar = new QHBoxLayout;
    selection_ = new QLabel(list_);
    selection_->setObjectName("selectionText");
    tooBig_ = new QLabel("（SD カードの空きより大きい）", list_);
    tooBig_->setObjectName("freeSpaceWarning");
    TextStyle::setCaption(tooBig_);
    TextStyle::setColor(tooBig_, Palette::Name::warning);
    sendButton_ = new QPushButton("SD カードへ送る", list_);
    sendButton_->setObjectName("sendButton");
    sendButton_->setMinimumHeight(34);
    TextStyle::setFont(sendButton_, 14, QFont::DemiBold);
    SheetButtons::makeProminent(sendButton_);
    Icons::show(sendButton_, Icons::Symbol::sdcard, 15, Icons::fixed(Qt::white));
    connect(sendButton_, &QPushButton::clicked, this, &SendChoosingPage::sendChosen);
    bar->addWidget(selection_);
    bar->addWidget(tooBig_);
    bar->addStretch(1);
    bar->addWidget(sendButton_);

    column->addLayout(filterRow);
    column->addWidget(deepWarning_);
    column->addWidget(tree_, 1);
    column->addLayout(bar);
    return list_;
}

void SendChoosingPage::setDropTargeted(bool on) {
    dropHint_->setTargeted(on);
}

void SendChoosingPage::refresh() {
    using namespace SendContent;
    const std::set<std::string> busy = state_.busyFolders();
    busyNotice_->setVisible(!busy.empty());

    sourceBox_->refresh();

    // One content part, first match wins.
    const bool library = state_.sourceIsMusicLibrary();
    const bool loading = !library && state_.loading();
    const bool empty = !library && !loading && state_.albums().empty();
    libraryWarning_->setVisible(library);
    loading_->setVisible(loading);
    checking_->setVisible(loading);
    emptyText_->setVisible(empty);
    list_->setVisible(!library && !loading && !empty);

    const std::string suggested = state_.suggestedSource();
    suggestionButton_->setVisible(offersSuggestion(suggested, state_.model().srcPath()));
    suggestionButton_->setText("書き出したフォルダにする（" + lastComponent(suggested) + "）");
    emptyText_->setText(state_.source().empty() ? QString()
                                                : "このフォルダには音楽のアルバムが見つかりません。"
                                                  "アプリで書き出したフォルダを選んでください。");

    if (qt(state_.filter()) != filter_->text()) filter_->setText(qt(state_.filter()));
    const std::vector<Album> filtered = filteredAlbums(state_.albums(), state_.filter());
    deepWarning_->setVisible(hasDeepAlbum(state_.albums()));
    tree_->refresh(artistGroups(filtered), busy);

    const std::vector<Album> chosen = chosenAlbums(state_.albums(), state_.picked(), busy);
    const std::optional<Volume> card = state_.selectedCard();
    const SelectionBar bar = selectionBar(chosen, card);
    selection_->setText(qt(bar.text));
    if (bar.exceedsFreeSpace) {
        TextStyle::setColor(selection_, Palette::Name::warning);
    } else {
        TextStyle::setTone(selection_, TextStyle::Tone::primary);
    }
    tooBig_->setVisible(bar.exceedsFreeSpace);
    sendButton_->setEnabled(!chosen.empty() && card.has_value());
}

// The albums as they are ticked at the press, hidden ones included.
void SendChoosingPage::sendChosen() {
    state_.send(SendContent::chosenAlbums(state_.albums(), state_.picked(), state_.busyFolders()));
}

}  // namespace tarvik
