#include "Core/Platform/Errors.hpp"

#include <cstring>

namespace tarvik {

const char* Cancelled::what() const noexcept {
    return "キャンセルしました";
}

std::string systemReason(int errorNumber) {
    char buffer[256];
    // GNU strerror_r returns a pointer that may or may not point into buffer.
    const char* text = strerror_r(errorNumber, buffer, sizeof buffer);
    return text;
}

std::string fileSystemMessage(std::string_view prefix, std::string_view name, int errorNumber) {
    std::string message(prefix);
    message += name;
    message += "（";
    message += systemReason(errorNumber);
    message += "）";
    return message;
}

}  // namespace tarvik
