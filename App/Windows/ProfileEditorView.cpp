#include "App/Windows/ProfileEditorView.hpp"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include "App/Kit/Card.hpp"
#include "App/Kit/Icons.hpp"
#include "App/Kit/OptionPicker.hpp"
#include "App/Kit/QtText.hpp"
#include "App/Kit/SheetButtons.hpp"
#include "App/Kit/TextStyle.hpp"
#include "App/Model/AppModel.hpp"
#include "App/Windows/ProfileEditorRules.hpp"

namespace tarvik {

namespace R = ProfileEditorRules;

namespace {

// Sets a field's text only when it differs, so the caret stays where the user types.
void showText(QLineEdit* field, const std::string& text) {
    if (field->text() == qt(text)) return;
    field->setText(qt(text));
    field->setCursorPosition(0);  // a long text shows its beginning
}

}  // namespace

ProfileEditorView::ProfileEditorView(AppModel& model, DeviceProfile profile,
                                     std::function<void()> close, QWidget* parent)
    : QDialog(parent),
      model_(model),
      profile_(R::editable(std::move(profile))),
      close_(std::move(close)) {
    setObjectName("profileEditor");
    setWindowModality(Qt::WindowModal);
    setWindowTitle(qt(R::title(profile_)));
    setFixedSize(640, 640);
    verifiedNote_ = profile_.verified ? profile_.verified->note : "";

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(20, 20, 20, 20);
    root->setSpacing(12);
    buildTitle(*root);
    buildForm(*root);

    errorLine_ = new QLabel(this);
    errorLine_->setObjectName("profileEditorError");
    errorLine_->setTextFormat(Qt::PlainText);
    errorLine_->setWordWrap(true);
    errorLine_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    TextStyle::setCallout(errorLine_);
    TextStyle::setColor(errorLine_, Palette::Name::danger);
    root->addWidget(errorLine_);

    buildButtons(*root);
    refresh();
}

void ProfileEditorView::buildTitle(QVBoxLayout& root) {
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    auto* symbol = new QLabel(this);
    Icons::show(symbol, Icons::Symbol::carFill, 20, Icons::color(Palette::Name::teal));
    auto* title = new QLabel(qt(R::title(profile_)), this);
    title->setObjectName("profileEditorTitle");
    TextStyle::setFont(title, 20, QFont::Bold);
    TextStyle::setColor(title, Palette::Name::teal);
    row->addWidget(symbol);
    row->addWidget(title);
    row->addStretch(1);
    root.addLayout(row);
}

void ProfileEditorView::buildForm(QVBoxLayout& root) {
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName("profileEditorForm");
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* content = new QWidget(scroll);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);

    auto* main = new Card(model_, content);
    auto* rows = new QFormLayout;
    rows->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    name_ = new QLineEdit(main);
    name_->setObjectName("profileNameField");
    connect(name_, &QLineEdit::textEdited, this,
            [this](const QString& text) { profile_.name = text.toStdString(); });
    notes_ = new QLineEdit(main);
    notes_->setObjectName("profileNotesField");
    connect(notes_, &QLineEdit::textEdited, this,
            [this](const QString& text) { profile_.notes = text.toStdString(); });
    quality_ = OptionPicker::make<R::Option<std::int64_t>>(
        main, "qualityPicker", [this] { return R::qualityOptions(profile_.audio.bitrate); },
        [this](std::int64_t value) {
            profile_.audio.bitrate = value;
            refresh();
        });
    artwork_ = new QCheckBox("ジャケット画像を入れる", main);
    artwork_->setObjectName("artworkToggle");
    connect(artwork_, &QCheckBox::toggled, this, [this](bool on) {
        profile_.tags.artwork.enabled = on;
        refresh();
    });
    layout_ = OptionPicker::make<R::Option<R::Layout>>(main, "layoutPicker", R::layoutOptions,
                                                       [this](R::Layout value) {
                                                           profile_.files.layout = value;
                                                           refresh();
                                                       });
    rows->addRow("機種の名前（例: うちのナビ）", name_);
    rows->addRow("メモ（気づいたことなど）", notes_);
    rows->addRow("音質", quality_);
    rows->addRow(artwork_);
    rows->addRow("フォルダの分け方", layout_);
    main->setContentLayout(rows);
    column->addWidget(main);
    column->addWidget(buildVerified(content));

    auto* advanced = new Card(model_, content);
    auto* advancedColumn = new QVBoxLayout;
    disclosure_ = new QToolButton(advanced);
    disclosure_->setObjectName("advancedDisclosure");
    disclosure_->setText("くわしい設定（ふつうは変えなくて大丈夫）");
    disclosure_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    disclosure_->setAutoRaise(true);
    disclosure_->setCheckable(true);
    connect(disclosure_, &QToolButton::toggled, this, [this](bool open) {
        advanced_ = open;
        refresh();
    });
    advancedSection_ = buildAdvanced(advanced);
    advancedColumn->addWidget(disclosure_, 0, Qt::AlignLeft);
    advancedColumn->addWidget(advancedSection_);
    advanced->setContentLayout(advancedColumn);
    column->addWidget(advanced);
    column->addStretch(1);

    scroll->setWidget(content);
    root.addWidget(scroll, 1);
}

QWidget* ProfileEditorView::buildVerified(QWidget* parent) {
    auto* card = new Card(model_, parent);
    auto* row = new QHBoxLayout;
    verified_ = new QCheckBox("実機で表示を確認できた", card);
    verified_->setObjectName("verifiedToggle");
    connect(verified_, &QCheckBox::toggled, this, [this](bool on) {
        R::setVerified(profile_, on, verifiedNote_, QDate::currentDate());
        refresh();
    });
    verifiedNoteField_ = new QLineEdit(card);
    verifiedNoteField_->setObjectName("verifiedNoteField");
    verifiedNoteField_->setPlaceholderText("メモ（例: 曲名・アルバム名が出た）");
    connect(verifiedNoteField_, &QLineEdit::textEdited, this, [this](const QString& text) {
        verifiedNote_ = text.toStdString();
        R::setVerifiedNote(profile_, verifiedNote_);
    });
    verified_->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    row->addWidget(verified_);
    row->addWidget(verifiedNoteField_, 1);
    row->addStretch(0);  // takes the room of the hidden note field
    card->setContentLayout(row);
    return card;
}

void ProfileEditorView::buildButtons(QVBoxLayout& root) {
    auto* row = new QHBoxLayout;
    if (R::canDelete(profile_)) {
        auto* remove = new QPushButton("この機種を削除", this);
        remove->setObjectName("deleteProfileButton");
        SheetButtons::makeDestructive(remove);
        connect(remove, &QPushButton::clicked, this, &ProfileEditorView::deleteProfile);
        row->addWidget(remove);
    }
    row->addStretch(1);
    auto* cancel = new QPushButton("キャンセル", this);
    cancel->setObjectName("cancelButton");
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &ProfileEditorView::reject);
    auto* save = new QPushButton("保存", this);
    save->setObjectName("saveButton");
    SheetButtons::makeProminent(save);
    connect(save, &QPushButton::clicked, this, &ProfileEditorView::save);
    row->addWidget(cancel);
    row->addWidget(save);
    root.addLayout(row);
}

void ProfileEditorView::refresh() {
    showText(name_, profile_.name);
    showText(notes_, profile_.notes);
    OptionPicker::show(quality_, R::qualityOptions(profile_.audio.bitrate), profile_.audio.bitrate);
    OptionPicker::show(layout_, R::layoutOptions(), profile_.files.layout);
    {
        const QSignalBlocker blocker(artwork_);
        artwork_->setChecked(profile_.tags.artwork.enabled);
    }
    {
        const QSignalBlocker blocker(verified_);
        verified_->setChecked(profile_.verified.has_value());
    }
    verifiedNoteField_->setVisible(profile_.verified.has_value());
    showText(verifiedNoteField_, verifiedNote_);
    {
        const QSignalBlocker blocker(disclosure_);
        disclosure_->setChecked(advanced_);
    }
    disclosure_->setArrowType(advanced_ ? Qt::DownArrow : Qt::RightArrow);
    advancedSection_->setVisible(advanced_);
    refreshAdvanced();
    errorLine_->setVisible(error_.has_value());
    errorLine_->setText(error_ ? qt(*error_) : QString());
}

void ProfileEditorView::save() {
    if (auto refused = R::refusal(profile_)) {
        error_ = std::move(refused);
        if (R::refusesAdvanced(profile_)) advanced_ = true;
        refresh();
        return;
    }
    try {
        model_.saveProfile(profile_);
    } catch (const std::exception& failure) {
        error_ = R::saveFailure(failure);
        refresh();
        return;
    }
    finish();
}

void ProfileEditorView::deleteProfile() {
    model_.deleteProfile(profile_);
    finish();
}

void ProfileEditorView::reject() {
    finish();
}

void ProfileEditorView::closeEvent(QCloseEvent* event) {
    if (finishing_) {  // the close that finish() itself asks for
        event->accept();
        return;
    }
    // The title bar's close button cancels, as Escape does.
    event->ignore();
    finish();
}

void ProfileEditorView::finish() {
    finishing_ = true;
    QDialog::done(QDialog::Rejected);
    finishing_ = false;
    // Last: the opener may let go of the sheet here.
    if (close_) close_();
}

}  // namespace tarvik
