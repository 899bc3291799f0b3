#pragma once
// The sheet that edits the artist-name aliases: a working copy of the alias
// file's rows, loaded each time the sheet comes on screen, groups of music
// folder names written differently offered for merging, and Save, which drops
// rows with a blank side and writes the file (a failure stays on the sheet
// with its reason). A row that sends a name an earlier row already sends
// elsewhere says so under it, and Save refuses until it is mended. An alias
// file that could not be read is named above the rows; Save then keeps it
// beside the new one. A Save that finds the file changed since the sheet
// read it (another window of the program saved it) writes nothing, shows
// the other window's rows below its own and says so; the next Save writes
// both. Cancel (Escape) closes it and leaves the file as it was.
// A window-modal QDialog: the main window presents it while showAliases is
// true and sets that false again on `finished`. GUI thread only.
#include <QDialog>
#include <map>
#include <string>

#include "Core/Naming/ArtistAliases.hpp"

class QLabel;
class QVBoxLayout;

namespace tarvik {

class AppModel;

class ArtistAliasesView : public QDialog {
    Q_OBJECT

public:
    explicit ArtistAliasesView(AppModel& model, QWidget* parent = nullptr);

    void load();
    void save();
    const ArtistAliases& workingCopy() const { return aliases_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void addRow();
    void rebuildRows();
    void refreshSuggestions();
    // Shows under each row whether a save refuses it; true when none is refused.
    bool showRefusals();

    // Shows the file as `reading_` found it, and the rows to edit.
    void showReading(ArtistAliases rows);

    AppModel& model_;
    ArtistAliases::Reading reading_;  // the file as the rows were read from it
    ArtistAliases aliases_;
    QWidget* rowsBox_;
    QVBoxLayout* rows_;
    QWidget* suggestionsBox_;
    QVBoxLayout* suggestions_;
    QLabel* error_;
    QLabel* damaged_;
    std::map<std::string, QLabel*> refusals_;  // each row's message line, by the row's id
};

}  // namespace tarvik
