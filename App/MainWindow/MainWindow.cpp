#include "App/MainWindow/MainWindow.hpp"

#include <QScrollArea>
#include <QScrollBar>
#include <QShowEvent>
#include <QSplitter>
#include <QVBoxLayout>
#include <algorithm>

#include "App/Kit/Dialogs.hpp"
#include "App/Kit/FunBackground.hpp"
#include "App/MainWindow/ArtistSidebar.hpp"
#include "App/MainWindow/HeaderBanner.hpp"
#include "App/MainWindow/LogSection.hpp"
#include "App/MainWindow/MainContent.hpp"
#include "App/MainWindow/MainNotices.hpp"
#include "App/MainWindow/StepCardCard.hpp"
#include "App/MainWindow/StepExportCard.hpp"
#include "App/MainWindow/StepMusicCard.hpp"
#include "App/Model/AppModel.hpp"

namespace tarvik {

namespace {

constexpr int sidebarMinimum = 240;
constexpr int sidebarIdeal = 300;
constexpr int sidebarMaximum = 420;

}  // namespace

MainWindow::MainWindow(AppModel& model, std::function<void()> openSend, QWidget* parent)
    : QMainWindow(parent), model_(model), openSend_(std::move(openSend)) {
    setObjectName("mainWindow");
    setWindowTitle("タルヴィク");
    setMinimumSize(minimumWidth, minimumHeight);

    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setObjectName("mainSplitter");
    splitter_->setChildrenCollapsible(false);
    sidebar_ = new ArtistSidebar(model_, splitter_);
    sidebar_->setMinimumWidth(sidebarMinimum);
    sidebar_->setMaximumWidth(sidebarMaximum);
    splitter_->addWidget(sidebar_);
    splitter_->addWidget(buildDetailColumn());
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({sidebarIdeal, minimumWidth - sidebarIdeal});
    setCentralWidget(splitter_);
    fitMinimumToContent();

    connect(&model_, &AppModel::showLogChanged, this, &MainWindow::refreshLogPanel);
    connect(&model_, &AppModel::logAppended, this, &MainWindow::refreshLogPanel);
    connect(&model_, &AppModel::logTrimmed, this, &MainWindow::refreshLogPanel);
    connect(&model_, &AppModel::logCleared, this, &MainWindow::refreshLogPanel);
    connect(&model_, &AppModel::showSendChanged, this, &MainWindow::followShowSend);
    connect(&model_, &AppModel::ejectErrorChanged, this, &MainWindow::followEjectError);
    connect(&model_, &AppModel::stateChanged, this, &MainWindow::presentReview);
    connect(&model_, &AppModel::showAliasesChanged, this, &MainWindow::presentAliases);
    connect(&model_, &AppModel::settingsChanged, this, &MainWindow::presentWelcome);
    refreshLogPanel();
}

QWidget* MainWindow::buildDetailColumn() {
    auto* scroll = new QScrollArea(splitter_);
    detail_ = scroll;
    scroll->setObjectName("detailScroll");
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The window keeps room for the widest row instead (fitMinimumToContent).
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    FunBackground::fill(scroll->viewport());

    auto* content = new QWidget(scroll);
    content->setObjectName("detailColumn");
    content->setAutoFillBackground(false);
    column_ = new QVBoxLayout(content);
    column_->setContentsMargins(20, 20, 20, 20);
    column_->setSpacing(14);
    column_->addWidget(new HeaderBanner(model_, content));
    column_->addWidget(new CleanNotice(model_, content));
    column_->addWidget(new CarryOverBanner(model_, content));
    column_->addWidget(new StepMusicCard(model_, content));
    auto* cardStep = new StepCardCard(model_, content);
    connect(cardStep, &StepCardCard::editRequested, this, &MainWindow::editProfile);
    column_->addWidget(cardStep);
    column_->addWidget(new StepExportCard(model_, content));
    logPanel_ = new LogSection(model_, content);
    column_->addWidget(logPanel_);
    column_->addStretch();
    scroll->setWidget(content);
    content->installEventFilter(this);
    return scroll;
}

void MainWindow::fitMinimumToContent() {
    const QWidget* content = detail_->widget();
    const int column = content->minimumSizeHint().width() +
                       detail_->verticalScrollBar()->sizeHint().width() + 2 * detail_->frameWidth();
    detail_->setMinimumWidth(column);
    const int width = sidebar_->minimumWidth() + splitter_->handleWidth() + column;
    // A window smaller than this grows to it, as the desktop's would.
    setMinimumSize(std::max(minimumWidth, width), minimumHeight);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // A row came, went or changed its text: the room it needs may differ.
    if (watched == detail_->widget() && event->type() == QEvent::LayoutRequest)
        fitMinimumToContent();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::refreshLogPanel() {
    if (logPanel_ != nullptr) logPanel_->setVisible(MainContent::showsLogPanel(model_));
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Shown by the program, not merely uncovered or restored by the desktop.
    if (event->spontaneous()) return;
    presentWelcome();
    // Once the folders answered: the window shows meanwhile.
    if (model_.autoReview()) model_.startWhenChecked(true);
    if (model_.autoSend()) model_.setShowSend(true);
}

bool MainWindow::event(QEvent* event) {
    // Back from another program, the music folder or the destination may be
    // gone or back.
    if (event->type() == QEvent::WindowActivate) model_.recheckFolders();
    return QMainWindow::event(event);
}

void MainWindow::followShowSend() {
    if (!model_.showSend()) return;  // the reset below, or anyone's: nothing to open
    if (openSend_) openSend_();
    model_.setShowSend(false);
}

void MainWindow::followEjectError() {
    const std::optional<std::string> error = model_.ejectError();
    if (!error) return;
    // Cleared first: a second refusal while the box is up brings a box of its own.
    model_.setEjectError(std::nullopt);
    Dialogs::show(this,
                  {.kind = Dialogs::Message::Kind::warning, .text = *error, .informative = ""});
}

}  // namespace tarvik
