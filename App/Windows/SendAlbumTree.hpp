#pragma once
// The send window's album list: one collapsible group per artist, its header
// a tick box for the artist's selectable albums, the artist's name and the
// album count; under it one row per album with its tick box, its name, the
// "書き出し中" or "SD にあり" mark and its track count and size. Groups start
// closed and stay open across redraws under the artist's name. Ticks go
// straight to the window's state; what is drawn always comes from it. Owned
// by the choosing page; GUI thread only.
#include <QTreeWidget>
#include <set>
#include <string>
#include <vector>

#include "App/Windows/SendContent.hpp"

namespace tarvik {

class SendToSDState;

class SendAlbumTree : public QTreeWidget {
    Q_OBJECT

public:
    // Album rows keep their album's relativePath under this role.
    static constexpr int idRole = Qt::UserRole;

    explicit SendAlbumTree(SendToSDState& state, QWidget* parent = nullptr);

    // Shows `groups`, marking the albums in `busy` as still being written.
    void refresh(std::vector<SendContent::ArtistGroup> groups, std::set<std::string> busy);

private:
    void rebuild();
    void fill();
    void fillArtist(QTreeWidgetItem* item, const SendContent::ArtistGroup& group);
    void fillAlbum(QTreeWidgetItem* item, const SendContent::Album& album);
    void toggled(QTreeWidgetItem* item);

    SendToSDState& state_;
    std::vector<SendContent::ArtistGroup> groups_;
    std::set<std::string> busy_;
    std::vector<std::string> shape_;  // the artists and album ids shown, to rebuild only on change
    std::set<QString> expanded_;      // artists whose group is open
    bool updating_ = false;
};

}  // namespace tarvik
