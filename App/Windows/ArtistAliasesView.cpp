#include "App/Windows/ArtistAliasesView.hpp"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>
#include <exception>

#include "App/Kit/FunBackground.hpp"
#include "App/Kit/Icons.hpp"
#include "App/Kit/QtText.hpp"
#include "App/Kit/SheetButtons.hpp"
#include "App/Kit/TextStyle.hpp"
#include "App/Model/AppModel.hpp"
#include "App/Platform/AppPaths.hpp"
#include "App/Windows/AliasContent.hpp"

namespace tarvik {

namespace {

constexpr const char* explanation =
    "元の曲でアーティスト名の書き方がそろっていないと、カーナビでも別のアーティストとして並びます。"
    "ここに書いた組は、書き出すときに 1 "
    "つの名前にそろえます（空白の有無・大文字小文字の違いもまとめます）。"
    "元の音楽ファイルは変えません。";

void clearLayout(QVBoxLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        // Out of sight at once; deleted later, as its own button may be the
        // one whose click is being handled.
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
}

}  // namespace

ArtistAliasesView::ArtistAliasesView(AppModel& model, QWidget* parent)
    : QDialog(parent),
      model_(model),
      rowsBox_(new QWidget),
      rows_(new QVBoxLayout(rowsBox_)),
      suggestionsBox_(new QWidget(this)),
      suggestions_(new QVBoxLayout),
      error_(new QLabel(this)),
      damaged_(new QLabel(this)) {
    setObjectName("artistAliasesView");
    setWindowTitle("アーティスト名をまとめる");
    setWindowModality(Qt::WindowModal);
    setFixedSize(640, 560);
    FunBackground::fill(this);

    auto* heading = new QHBoxLayout;
    heading->setSpacing(10);
    auto* symbol = new QLabel(this);
    Icons::show(symbol, Icons::Symbol::person2Fill, 22, Icons::color(Palette::Name::accentText));
    auto* title = new QLabel("アーティスト名をまとめる", this);
    TextStyle::setFont(title, 22, QFont::Black);
    heading->addWidget(symbol);
    heading->addWidget(title);
    heading->addStretch();

    auto* intro = new QLabel(explanation, this);
    intro->setWordWrap(true);
    TextStyle::setTone(intro, TextStyle::Tone::secondary);

    rows_->setContentsMargins(6, 6, 6, 6);
    rows_->setSpacing(6);
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName("aliasRows");
    scroll->setWidget(rowsBox_);
    scroll->setWidgetResizable(true);
    scroll->setMinimumHeight(200);

    auto* add = new QPushButton("行を足す", this);
    add->setObjectName("addAliasButton");
    add->setAutoDefault(false);
    Icons::show(add, Icons::Symbol::plus, 14, Icons::tone(TextStyle::Tone::primary));
    connect(add, &QPushButton::clicked, this, &ArtistAliasesView::addRow);
    auto* addRowLine = new QHBoxLayout;
    addRowLine->addWidget(add);
    addRowLine->addStretch();

    suggestionsBox_->setObjectName("aliasSuggestions");
    auto* suggestionColumn = new QVBoxLayout(suggestionsBox_);
    suggestionColumn->setContentsMargins(0, 0, 0, 0);
    auto* suggestionTitle =
        new QLabel("音楽のフォルダで見つかった、書き方だけが違う組", suggestionsBox_);
    TextStyle::setFont(suggestionTitle, 14, QFont::Bold);
    suggestionColumn->addWidget(suggestionTitle);
    suggestionColumn->addLayout(suggestions_);

    damaged_->setObjectName("aliasFileDamaged");
    damaged_->setWordWrap(true);
    damaged_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    TextStyle::setCallout(damaged_);
    TextStyle::setColor(damaged_, Palette::Name::danger);
    damaged_->hide();

    error_->setObjectName("aliasError");
    error_->setWordWrap(true);
    TextStyle::setCallout(error_);
    TextStyle::setColor(error_, Palette::Name::danger);
    error_->hide();

    auto* footer = new QHBoxLayout;
    footer->setSpacing(10);
    auto* note = new QLabel("すでに書き出した曲には効きません。書き出し直すと反映されます。", this);
    TextStyle::setCaption(note);
    TextStyle::setTone(note, TextStyle::Tone::secondary);
    auto* cancel = new QPushButton("キャンセル", this);
    cancel->setObjectName("aliasCancelButton");
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* saveButton = new QPushButton("保存", this);
    saveButton->setObjectName("aliasSaveButton");
    saveButton->setDefault(true);
    SheetButtons::makeProminent(saveButton);
    connect(saveButton, &QPushButton::clicked, this, &ArtistAliasesView::save);
    footer->addWidget(note, 1);
    footer->addWidget(cancel);
    footer->addWidget(saveButton);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(12);
    column->addLayout(heading);
    column->addWidget(intro);
    column->addWidget(damaged_);
    column->addWidget(scroll, 1);
    column->addLayout(addRowLine);
    column->addWidget(suggestionsBox_);
    column->addWidget(error_);
    column->addLayout(footer);

    connect(&model_, &AppModel::artistsChanged, this, &ArtistAliasesView::refreshSuggestions);
}

void ArtistAliasesView::showEvent(QShowEvent* event) {
    // Opened, not restored from minimised: a restore keeps the rows typed so far.
    if (!event->spontaneous()) load();
    QDialog::showEvent(event);
}

void ArtistAliasesView::load() {
    reading_ = ArtistAliases::read(AppPaths::aliasesFile());
    error_->hide();
    showReading(reading_.aliases);
}

void ArtistAliasesView::showReading(ArtistAliases rows) {
    // A missing or unreadable file opens the sheet with no rows; an
    // unreadable one is named, so that nobody takes the empty list for theirs.
    aliases_ = std::move(rows);
    damaged_->setVisible(reading_.problem.has_value());
    if (reading_.problem) {
        damaged_->setText(
            qt(AliasContent::damagedFileText(AppPaths::aliasesFile(), *reading_.problem)));
    }
    rebuildRows();
}

void ArtistAliasesView::save() {
    aliases_.entries = AliasContent::kept(aliases_.entries);
    rebuildRows();
    if (!showRefusals()) {
        error_->setText(qt(AliasContent::refusedSaveText));
        error_->show();
        return;
    }
    ArtistAliases::SaveOver outcome;
    try {
        outcome = aliases_.saveOver(AppPaths::aliasesFile(), reading_);
    } catch (const std::exception& failure) {
        error_->setText(qt(AliasContent::saveErrorText(failure.what())));
        error_->show();
        return;
    }
    if (!outcome.saved) {
        reading_ = std::move(outcome.now);
        showReading(std::move(outcome.merged));
        error_->setText(qt(AliasContent::changedMeanwhileText));
        error_->show();
        return;
    }
    accept();
}

void ArtistAliasesView::addRow() {
    aliases_.entries.emplace_back();
    rebuildRows();
}

void ArtistAliasesView::rebuildRows() {
    clearLayout(rows_);
    refusals_.clear();
    for (const ArtistAliases::Entry& entry : aliases_.entries) {
        auto* row = new QWidget(rowsBox_);
        row->setObjectName("aliasRow");
        auto* rowColumn = new QVBoxLayout(row);
        rowColumn->setContentsMargins(0, 0, 0, 0);
        rowColumn->setSpacing(2);
        auto* line = new QHBoxLayout;
        line->setSpacing(8);
        auto* from = new QLineEdit(qt(entry.from), row);
        from->setObjectName("aliasFrom");
        from->setPlaceholderText("まとめる前（例: Kurune Tobari）");
        auto* arrow = new QLabel(row);
        Icons::show(arrow, Icons::Symbol::arrowRight, 14, Icons::tone(TextStyle::Tone::secondary));
        auto* to = new QLineEdit(qt(entry.to), row);
        to->setObjectName("aliasTo");
        to->setPlaceholderText("まとめる名前（例: くるねとばり）");
        auto* remove = new QToolButton(row);
        remove->setObjectName("removeAliasButton");
        remove->setAutoRaise(true);
        remove->setToolTip("この行を消す");
        Icons::show(remove, Icons::Symbol::minusCircle, 16,
                    Icons::tone(TextStyle::Tone::secondary));
        line->addWidget(from, 1);
        line->addWidget(arrow);
        line->addWidget(to, 1);
        line->addWidget(remove);
        auto* refusal = new QLabel(row);
        refusal->setObjectName("aliasRowRefusal");
        refusal->setWordWrap(true);
        TextStyle::setCaption(refusal);
        TextStyle::setColor(refusal, Palette::Name::danger);
        refusal->hide();
        rowColumn->addLayout(line);
        rowColumn->addWidget(refusal);
        refusals_[entry.id] = refusal;

        // Rows are found again by id: the list may have changed since.
        const std::string id = entry.id;
        auto edit = [this, id](std::string ArtistAliases::Entry::*side, const QString& text) {
            for (auto& e : aliases_.entries)
                if (e.id == id) e.*side = text.toStdString();
            refreshSuggestions();
            showRefusals();
        };
        connect(from, &QLineEdit::textEdited, this,
                [edit](const QString& text) { edit(&ArtistAliases::Entry::from, text); });
        connect(to, &QLineEdit::textEdited, this,
                [edit](const QString& text) { edit(&ArtistAliases::Entry::to, text); });
        connect(remove, &QToolButton::clicked, this, [this, id] {
            std::erase_if(aliases_.entries,
                          [&](const ArtistAliases::Entry& e) { return e.id == id; });
            rebuildRows();
        });
        rows_->addWidget(row);
        row->show();  // at once, also while the sheet is already on screen
    }
    rows_->addStretch();
    refreshSuggestions();
    showRefusals();
}

bool ArtistAliasesView::showRefusals() {
    const std::map<std::string, std::string> refused = AliasContent::refusedRows(aliases_);
    for (const auto& [id, label] : refusals_) {
        const auto found = refused.find(id);
        label->setVisible(found != refused.end());
        label->setText(found != refused.end() ? qt(found->second) : QString());
    }
    // The reason a save was refused goes once nothing is refused any more.
    if (refused.empty() && error_->text() == qt(AliasContent::refusedSaveText)) error_->hide();
    return refused.empty();
}

void ArtistAliasesView::refreshSuggestions() {
    clearLayout(suggestions_);
    const auto groups = AliasContent::suggestions(model_.artists(), aliases_);
    suggestionsBox_->setVisible(!groups.empty());
    for (const auto& group : groups) {
        auto* row = new QWidget(suggestionsBox_);
        row->setObjectName("aliasSuggestion");
        auto* line = new QHBoxLayout(row);
        line->setContentsMargins(0, 0, 0, 0);
        auto* names = new QLabel(qt(AliasContent::groupText(group)), row);
        names->setObjectName("aliasSuggestionNames");
        TextStyle::setCallout(names);
        auto* menuButton = new QToolButton(row);
        menuButton->setObjectName("mergeMenuButton");
        menuButton->setText("まとめる");
        menuButton->setFixedWidth(110);
        menuButton->setPopupMode(QToolButton::InstantPopup);
        TextStyle::setCallout(menuButton);
        auto* menu = new QMenu(menuButton);
        for (const std::string& name : group) {
            QAction* action = menu->addAction(qt(AliasContent::mergeItemText(name)));
            connect(action, &QAction::triggered, this, [this, group, name] {
                AliasContent::merge(aliases_, group, name);
                rebuildRows();
            });
        }
        menuButton->setMenu(menu);
        line->addWidget(names, 1);
        line->addWidget(menuButton);
        suggestions_->addWidget(row);
        row->show();
    }
}

}  // namespace tarvik
