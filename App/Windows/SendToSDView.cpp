#include "App/Windows/SendToSDView.hpp"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "App/Kit/Icons.hpp"
#include "App/Kit/Palette.hpp"
#include "App/Kit/TextStyle.hpp"
#include "App/Model/AppModel.hpp"
#include "App/Windows/SendChoosingPage.hpp"
#include "App/Windows/SendResultPages.hpp"

namespace tarvik {

namespace {

// The local files a drag carries; other URLs (web pages, remote shares) are
// not folders the card can be filled from.
std::vector<std::filesystem::path> localFiles(const QMimeData* mime) {
    std::vector<std::filesystem::path> paths;
    if (mime == nullptr || !mime->hasUrls()) return paths;
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) paths.emplace_back(url.toLocalFile().toStdString());
    }
    return paths;
}

// The dashed outline over the whole window while a drag is over it; clicks
// go through to what lies below.
class DropHighlight : public QWidget {
public:
    explicit DropHighlight(QWidget* parent) : QWidget(parent) {
        setObjectName("sendDropHighlight");
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPen pen(Palette::highlight(), 3);
        pen.setDashPattern({8.0 / 3, 6.0 / 3});  // in line widths: 8 on, 6 off
        painter.setPen(pen);
        QPainterPath outline;
        outline.addRoundedRect(QRectF(rect()).adjusted(6, 6, -6, -6), 12, 12);
        painter.drawPath(outline);
    }
};

}  // namespace

SendToSDView::SendToSDView(AppModel& model, std::function<void()> close, SendToSDState::Tools tools,
                           QWidget* parent)
    : FunBackground(parent),
      state_(std::make_unique<SendToSDState>(model, std::move(tools))),
      close_(std::move(close)) {
    setObjectName("sendToSDView");
    setAcceptDrops(true);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(20, 20, 20, 20);
    root->setSpacing(12);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(10);
    auto* symbol = new QLabel(this);
    Icons::show(symbol, Icons::Symbol::sdcardFill, 24, Icons::color(Palette::Name::teal));
    auto* title = new QLabel("SD カードへ送る", this);
    title->setObjectName("sendTitle");
    TextStyle::setFont(title, 24, QFont::Black);
    titleRow->addWidget(symbol);
    titleRow->addWidget(title);
    titleRow->addStretch(1);
    root->addLayout(titleRow);

    auto* description = new QLabel(
        "書き出したフォルダから、アルバムを選んで SD "
        "カードへ写します。ファイルマネージャと違って隠しファイルができず、"
        "名前もカーナビが読める形で入るので、掃除はいりません。",
        this);
    description->setWordWrap(true);
    TextStyle::setTone(description, TextStyle::Tone::secondary);
    root->addWidget(description);

    pages_ = new QStackedWidget(this);
    pages_->setObjectName("sendPages");
    choosing_ = new SendChoosingPage(*state_, pages_);
    sending_ = new SendingPage(*state_, pages_);
    finished_ = new FinishedPage(*state_, pages_);
    failed_ = new FailedPage(*state_, pages_);
    for (QWidget* page : std::initializer_list<QWidget*>{choosing_, sending_, finished_, failed_})
        pages_->addWidget(page);
    root->addWidget(pages_, 1);

    auto* footer = new QHBoxLayout;
    closeButton_ = new QPushButton("閉じる", this);
    closeButton_->setObjectName("sendCloseButton");
    closeButton_->setAutoDefault(false);
    closeButton_->setShortcut(QKeySequence(Qt::Key_Escape));
    closeButton_->setToolTip("送っている間は閉じられません（中止を押してください）");
    connect(closeButton_, &QPushButton::clicked, this, [this] {
        if (!state_->sending()) close_();
    });
    footer->addStretch(1);
    footer->addWidget(closeButton_);
    root->addLayout(footer);

    highlight_ = new DropHighlight(this);

    connect(state_.get(), &SendToSDState::changed, this, &SendToSDView::scheduleRefresh);
    // Whatever asks, the window stays while a copy runs: it is the only way to
    // see or stop it.
    connect(state_.get(), &SendToSDState::closeRequested, this, [this] {
        if (!state_->sending()) close_();
    });
    // What the derived values read of the model changes without the state's say.
    for (auto signal : {&AppModel::volumesChanged, &AppModel::writingFoldersChanged,
                        &AppModel::srcPathChanged, &AppModel::destPathChanged})
        connect(&model, signal, this, &SendToSDView::scheduleRefresh);
    refresh();
}

SendToSDView::~SendToSDView() {
    // The state stops its workers on going; nothing of it may reach the pages after.
    disconnect(state_.get(), nullptr, this, nullptr);
    state_.reset();
}

// At least 760 × 600, and never less than the content needs: a window held
// smaller than that would draw the album list over the selection bar. The
// need is taken at the narrowest width, where the texts wrap onto the most
// lines (a layout's plain minimum counts each text as one line).
QSize SendToSDView::minimumSizeHint() const {
    constexpr int width = 760;
    const QLayout* content = layout();
    const int height = content->hasHeightForWidth() ? content->totalHeightForWidth(width)
                                                    : content->minimumSize().height();
    return QSize(std::max(width, content->minimumSize().width()), std::max(600, height));
}

// The window opens at its smallest.
QSize SendToSDView::sizeHint() const {
    return minimumSizeHint();
}

void SendToSDView::showEvent(QShowEvent* event) {
    FunBackground::showEvent(event);
    // A restore from minimised is no new appearance: it only catches up.
    if (event->spontaneous()) {
        state_->setOnScreen(true);
    } else {
        state_->onAppear();
    }
    refresh();
}

void SendToSDView::hideEvent(QHideEvent* event) {
    FunBackground::hideEvent(event);
    state_->setOnScreen(false);
}

void SendToSDView::resizeEvent(QResizeEvent* event) {
    FunBackground::resizeEvent(event);
    highlight_->setGeometry(rect());
}

// Drags are welcome even during a send, so that the outline follows them;
// only the drop itself is refused then.
void SendToSDView::dragEnterEvent(QDragEnterEvent* event) {
    if (localFiles(event->mimeData()).empty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    setDropTargeted(true);
}

void SendToSDView::dragMoveEvent(QDragMoveEvent* event) {
    if (localFiles(event->mimeData()).empty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void SendToSDView::dragLeaveEvent(QDragLeaveEvent* event) {
    setDropTargeted(false);
    event->accept();
}

void SendToSDView::dropEvent(QDropEvent* event) {
    setDropTargeted(false);
    const std::vector<std::filesystem::path> paths = localFiles(event->mimeData());
    if (!paths.empty() && state_->handleDrop(paths)) {
        event->acceptProposedAction();
    } else {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
    }
}

void SendToSDView::setDropTargeted(bool on) {
    dropTargeted_ = on;
    highlight_->setVisible(on);
    highlight_->raise();
    choosing_->setDropTargeted(on);
}

// Progress arrives once per file and several fields change together; one
// redraw after them is enough.
void SendToSDView::scheduleRefresh() {
    if (refreshQueued_) return;
    refreshQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        refreshQueued_ = false;
        refresh();
    });
}

void SendToSDView::refresh() {
    const SendContent::Phase& phase = state_->phase();
    closeButton_->setEnabled(!state_->sending());
    if (std::holds_alternative<SendContent::Choosing>(phase)) {
        choosing_->refresh();
        pages_->setCurrentWidget(choosing_);
    } else if (const auto* sending = std::get_if<SendContent::Sending>(&phase)) {
        sending_->refresh(*sending);
        pages_->setCurrentWidget(sending_);
    } else if (const auto* finished = std::get_if<SendContent::Finished>(&phase)) {
        finished_->refresh(*finished);
        pages_->setCurrentWidget(finished_);
    } else if (const auto* failed = std::get_if<SendContent::Failed>(&phase)) {
        failed_->refresh(*failed);
        pages_->setCurrentWidget(failed_);
    }
}

}  // namespace tarvik
