// The editor's advanced group: codec, sample rate, the MP3-only tag rows (or
// the AAC note), artwork size, top folder, the three steppers and ASCII-only
// names. Part of ProfileEditorView.
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

#include "App/Kit/OptionPicker.hpp"
#include "App/Kit/QtText.hpp"
#include "App/Kit/StepperRow.hpp"
#include "App/Kit/TextStyle.hpp"
#include "App/Windows/ProfileEditorRules.hpp"
#include "App/Windows/ProfileEditorView.hpp"

namespace tarvik {

namespace R = ProfileEditorRules;

namespace {

QCheckBox* toggle(QWidget* parent, const char* name, const char* text) {
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(name);
    return box;
}

void showToggle(QCheckBox* box, bool on) {
    const QSignalBlocker blocker(box);
    box->setChecked(on);
}

}  // namespace

QWidget* ProfileEditorView::buildAdvanced(QWidget* parent) {
    auto* section = new QWidget(parent);
    section->setObjectName("advancedSection");
    advancedRows_ = new QFormLayout(section);
    advancedRows_->setContentsMargins(0, 0, 0, 0);
    advancedRows_->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    codec_ = OptionPicker::make<R::Option<R::Codec>>(section, "codecPicker", R::codecOptions,
                                                     [this](R::Codec value) {
                                                         if (value == profile_.audio.codec) return;
                                                         profile_.audio.codec = value;
                                                         R::codecChanged(profile_, value);
                                                         refresh();
                                                     });
    sampleRate_ = OptionPicker::make<R::Option<std::int64_t>>(
        section, "sampleRatePicker",
        [this] { return R::sampleRateOptions(profile_.audio.sampleRate); },
        [this](std::int64_t value) {
            profile_.audio.sampleRate = value;
            refresh();
        });
    tagFormat_ = OptionPicker::make<R::Option<R::Format>>(
        section, "tagFormatPicker", R::tagFormatOptions, [this](R::Format value) {
            if (value == profile_.tags.format) return;
            profile_.tags.format = value;
            R::tagFormatChanged(profile_, value);
            refresh();
        });
    encoding_ = OptionPicker::make<R::Option<R::Encoding>>(
        section, "encodingPicker",
        [this] { return R::encodingOptions(profile_.tags.format, profile_.tags.encoding); },
        [this](R::Encoding value) {
            profile_.tags.encoding = value;
            refresh();
        });
    id3v1_ = toggle(section, "id3v1Toggle", "古い ID3v1 タグも一緒に書く（一部の古い機種向け）");
    connect(id3v1_, &QCheckBox::toggled, this, [this](bool on) { profile_.tags.id3v1 = on; });
    aacNote_ = new QLabel("AAC は MP4 形式のタグ（iTunes と同じ）で書きます", section);
    aacNote_->setObjectName("aacNote");
    TextStyle::setTone(aacNote_, TextStyle::Tone::secondary);
    artworkSize_ = OptionPicker::make<R::Option<std::int64_t>>(
        section, "artworkSizePicker",
        [this] { return R::artworkSizeOptions(profile_.tags.artwork.maxPx); },
        [this](std::int64_t value) {
            profile_.tags.artwork.maxPx = value;
            refresh();
        });
    root_ = new QLineEdit(section);
    root_->setObjectName("rootField");
    connect(root_, &QLineEdit::textEdited, this,
            [this](const QString& text) { profile_.files.root = text.toStdString(); });

    nameMax_ = new StepperRow(section);
    nameMax_->setObjectName("nameMaxStepper");
    connect(nameMax_, &StepperRow::stepped, this, [this](bool up) {
        profile_.files.nameMax = R::nameMaxStepper().stepped(profile_.files.nameMax, up);
        refresh();
    });
    displayWidth_ = new StepperRow(section);
    displayWidth_->setObjectName("displayWidthStepper");
    connect(displayWidth_, &StepperRow::stepped, this, [this](bool up) {
        R::setDisplayWidth(profile_,
                           R::displayWidthStepper().stepped(R::displayWidth(profile_), up));
        refresh();
    });
    asciiOnly_ = toggle(section, "asciiOnlyToggle",
                        "ファイル名・フォルダ名を英数字だけにする（曲名のタグは日本語のまま）");
    connect(asciiOnly_, &QCheckBox::toggled, this,
            [this](bool on) { profile_.files.asciiOnly = on; });
    perFolder_ = new StepperRow(section);
    perFolder_->setObjectName("perFolderStepper");
    connect(perFolder_, &StepperRow::stepped, this, [this](bool up) {
        const std::int64_t current = profile_.files.maxPerFolder;
        profile_.files.maxPerFolder = R::perFolderStepper(current).stepped(current, up);
        refresh();
    });

    advancedRows_->addRow("形式", codec_);
    advancedRows_->addRow("サンプリング周波数", sampleRate_);
    advancedRows_->addRow("タグの形式", tagFormat_);
    advancedRows_->addRow("文字コード", encoding_);
    advancedRows_->addRow(id3v1_);
    advancedRows_->addRow(aacNote_);
    advancedRows_->addRow("ジャケット画像の大きさ", artworkSize_);
    advancedRows_->addRow("いちばん上のフォルダ名（空なら直下）", root_);
    advancedRows_->addRow(nameMax_);
    advancedRows_->addRow(displayWidth_);
    advancedRows_->addRow(asciiOnly_);
    advancedRows_->addRow(perFolder_);
    return section;
}

void ProfileEditorView::refreshAdvanced() {
    OptionPicker::show(codec_, R::codecOptions(), profile_.audio.codec);
    OptionPicker::show(sampleRate_, R::sampleRateOptions(profile_.audio.sampleRate),
                       profile_.audio.sampleRate);
    const bool mp3 = profile_.audio.codec == R::Codec::mp3;
    for (QWidget* row : {static_cast<QWidget*>(tagFormat_), static_cast<QWidget*>(encoding_),
                         static_cast<QWidget*>(id3v1_)})
        advancedRows_->setRowVisible(row, mp3);
    advancedRows_->setRowVisible(aacNote_, !mp3);
    OptionPicker::show(tagFormat_, R::tagFormatOptions(), profile_.tags.format);
    OptionPicker::show(encoding_, R::encodingOptions(profile_.tags.format, profile_.tags.encoding),
                       profile_.tags.encoding);
    showToggle(id3v1_, profile_.tags.id3v1);
    OptionPicker::show(artworkSize_, R::artworkSizeOptions(profile_.tags.artwork.maxPx),
                       profile_.tags.artwork.maxPx);
    // Off with cover art, and the stored size stays as it is.
    artworkSize_->setEnabled(profile_.tags.artwork.enabled);
    if (root_->text() != qt(profile_.files.root)) root_->setText(qt(profile_.files.root));
    showToggle(asciiOnly_, profile_.files.asciiOnly);

    const auto show = [](StepperRow* row, const std::string& label, const R::Stepper& stepper,
                         std::int64_t value) {
        row->setState(qt(label), stepper.canStep(value, false), stepper.canStep(value, true));
    };
    show(nameMax_, R::nameMaxLabel(profile_), R::nameMaxStepper(), profile_.files.nameMax);
    show(displayWidth_, R::displayWidthLabel(profile_), R::displayWidthStepper(),
         R::displayWidth(profile_));
    const std::int64_t perFolder = profile_.files.maxPerFolder;
    show(perFolder_, R::perFolderLabel(profile_), R::perFolderStepper(perFolder), perFolder);
}

}  // namespace tarvik
