#pragma once
// The main window's left column: the artists of the music folder with a
// search field, a tick box per artist, the album-only choices made elsewhere
// (each with a button that drops it), "select shown", "clear" and the count.
// Every change goes to AppModel::setSelected; the column keeps no state of its
// own and is disabled while the model is busy. Owned by the main window; GUI
// thread only.
#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace tarvik {

class AppModel;

class ArtistSidebar : public QWidget {
    Q_OBJECT

public:
    explicit ArtistSidebar(AppModel& model, QWidget* parent = nullptr);

private:
    void rebuildArtists();
    void refreshSelection();
    void rebuildAlbumSection();
    void artistToggled(QListWidgetItem* item);
    void refreshCount();

    AppModel& model_;
    QLineEdit* search_;
    QWidget* empty_;
    QLabel* emptyText_;
    QListWidget* list_;
    int albumRows_ = 0;  // the album section's rows at the top of the list
    QLabel* count_;
    QLabel* countTail_;
    bool updating_ = false;
};

}  // namespace tarvik
