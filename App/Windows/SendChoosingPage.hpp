#pragma once
// The send window's choosing page: the busy notice while an export writes the
// listed folder, the source folder and the card with its free space, the drop
// hint, and then either the music-library warning, the loading bar with
// "確認しています…", the empty text or the list (filter, deep-folder warning,
// albums by artist, the selection bar and the send button). Everything shown
// is read from the window's state on each refresh; every button forwards to
// it. Owned by the window's page switch; GUI thread only.
#include <QWidget>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace tarvik {

class SendAlbumTree;
class SendDropHint;
class SendSourceBox;
class SendToSDState;
class SymbolLabel;

class SendChoosingPage : public QWidget {
    Q_OBJECT

public:
    explicit SendChoosingPage(SendToSDState& state, QWidget* parent = nullptr);

    void refresh();
    // A drag is over the window: the drop hint lights up.
    void setDropTargeted(bool on);

private:
    QWidget* buildLibraryWarning();
    QWidget* buildList();
    void sendChosen();

    SendToSDState& state_;
    SymbolLabel* busyNotice_ = nullptr;
    SendSourceBox* sourceBox_ = nullptr;
    SendDropHint* dropHint_ = nullptr;
    QWidget* libraryWarning_ = nullptr;
    QPushButton* suggestionButton_ = nullptr;
    QProgressBar* loading_ = nullptr;
    QLabel* checking_ = nullptr;  // "確認しています…" under the loading bar
    QLabel* emptyText_ = nullptr;
    QWidget* list_ = nullptr;
    QLineEdit* filter_ = nullptr;
    SymbolLabel* deepWarning_ = nullptr;
    SendAlbumTree* tree_ = nullptr;
    QLabel* selection_ = nullptr;
    QLabel* tooBig_ = nullptr;
    QPushButton* sendButton_ = nullptr;
};

}  // namespace tarvik
