#pragma once
// The one way the widgets turn the model's texts (UTF-8 std::string) into
// Qt's strings. Any thread.
#include <QString>
#include <string>

namespace tarvik {

inline QString qt(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace tarvik
