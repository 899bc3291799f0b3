#pragma once
// A picker (combo box) over a table of ProfileEditorRules options. Only the
// user's own pick reaches `pick` (QComboBox::activated), so showing a value
// that no option carries (the box then shows nothing) never changes it.
// Header-only; GUI thread only.
//
// Use:  auto* box = OptionPicker::make(parent, "qualityPicker", [] { return R::qualityOptions(); },
//                                      [this](std::int64_t v) { ... });
//       OptionPicker::show(box, R::qualityOptions(), profile.audio.bitrate);
#include <QSignalBlocker>
#include <functional>
#include <vector>

#include "App/Kit/Picker.hpp"
#include "App/Windows/ProfileEditorRules.hpp"

namespace tarvik::OptionPicker {

template <typename T>
using Options = std::vector<ProfileEditorRules::Option<T>>;

template <typename T>
QComboBox* make(QWidget* parent, const char* name, std::function<Options<T>()> options,
                std::function<void(const T&)> pick) {
    auto* box = new Picker(parent);
    box->setObjectName(name);
    // Long labels elide instead of widening the form past its sheet.
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(12);
    QObject::connect(box, &QComboBox::activated, box,
                     [options = std::move(options), pick = std::move(pick)](int index) {
                         const Options<T> list = options();
                         if (index >= 0 && index < static_cast<int>(list.size()))
                             pick(list[static_cast<std::size_t>(index)].value);
                     });
    return box;
}

// Lists `options` (anew only when they differ) and selects `current`, or nothing.
template <typename T>
void show(QComboBox* box, const Options<T>& options, const T& current) {
    const QSignalBlocker blocker(box);
    bool same = box->count() == static_cast<int>(options.size());
    for (int i = 0; same && i < box->count(); ++i)
        same =
            box->itemText(i) == QString::fromStdString(options[static_cast<std::size_t>(i)].label);
    if (!same) {
        box->clear();
        for (const auto& option : options) box->addItem(QString::fromStdString(option.label));
    }
    box->setCurrentIndex(ProfileEditorRules::indexOf(options, current));
}

}  // namespace tarvik::OptionPicker
