#pragma once
// A picker (combo box) over a table of options, each any record with a
// `value` and a std::string `label` (such as the profile editor's). Only the
// user's own pick reaches `pick` (QComboBox::activated), so showing a value
// that no option carries (the box then shows nothing) never changes it.
// Header-only; GUI thread only.
//
// Use:  auto* box = OptionPicker::make<R::Option<std::int64_t>>(parent, "qualityPicker",
//                       R::qualityOptions, [this](std::int64_t v) { ... });
//       OptionPicker::show(box, R::qualityOptions(), profile.audio.bitrate);
#include <QSignalBlocker>
#include <functional>
#include <vector>

#include "App/Kit/Picker.hpp"

namespace tarvik::OptionPicker {

template <typename Option>
using ValueOf = decltype(Option::value);

template <typename Option>
QComboBox* make(QWidget* parent, const char* name, std::function<std::vector<Option>()> options,
                std::function<void(const ValueOf<Option>&)> pick) {
    auto* box = new Picker(parent);
    box->setObjectName(name);
    // Long labels elide instead of widening the form past its sheet.
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(12);
    QObject::connect(box, &QComboBox::activated, box,
                     [options = std::move(options), pick = std::move(pick)](int index) {
                         const std::vector<Option> list = options();
                         if (index >= 0 && index < static_cast<int>(list.size()))
                             pick(list[static_cast<std::size_t>(index)].value);
                     });
    return box;
}

// Lists `options` (anew only when they differ) and selects `current`, or nothing.
template <typename Option>
void show(QComboBox* box, const std::vector<Option>& options, const ValueOf<Option>& current) {
    const QSignalBlocker blocker(box);
    bool same = box->count() == static_cast<int>(options.size());
    for (int i = 0; same && i < box->count(); ++i)
        same =
            box->itemText(i) == QString::fromStdString(options[static_cast<std::size_t>(i)].label);
    if (!same) {
        box->clear();
        for (const auto& option : options) box->addItem(QString::fromStdString(option.label));
    }
    int index = -1;
    for (std::size_t i = 0; index < 0 && i < options.size(); ++i)
        if (options[i].value == current) index = static_cast<int>(i);
    box->setCurrentIndex(index);
}

}  // namespace tarvik::OptionPicker
