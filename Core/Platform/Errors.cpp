#include "Core/Platform/Errors.hpp"

#include <array>
#include <cerrno>
#include <cstring>

namespace tarvik {
namespace {

struct Cause {
    int number;
    std::string_view english;  // strerror's text in the C locale
    std::string_view japanese;
};

// What users meet when a file, a folder or a card lets them down. EPERM reads
// like EACCES to a user: both are "not allowed".
constexpr std::array<Cause, 8> causes{{
    {ENOENT, "No such file or directory", "ファイルがありません"},
    {EACCES, "Permission denied", "アクセスが許可されていません"},
    {EPERM, "Operation not permitted", "アクセスが許可されていません"},
    {EROFS, "Read-only file system", "読み取り専用です"},
    {ENOSPC, "No space left on device", "空き容量がありません"},
    {ENAMETOOLONG, "File name too long", "名前が長すぎます"},
    {ELOOP, "Too many levels of symbolic links", "リンクがループしています"},
    {EIO, "Input/output error", "入出力エラー"},
}};

}  // namespace

const char* Cancelled::what() const noexcept {
    return "キャンセルしました";
}

std::string systemReason(int errorNumber) {
    for (const Cause& cause : causes) {
        if (cause.number == errorNumber) return std::string(cause.japanese);
    }
    char buffer[256];
    // GNU strerror_r returns a pointer that may or may not point into buffer.
    const char* text = strerror_r(errorNumber, buffer, sizeof buffer);
    return text;
}

std::string withJapaneseSystemTexts(std::string_view text) {
    std::string result(text);
    for (const Cause& cause : causes) {
        for (std::size_t at = result.find(cause.english); at != std::string::npos;
             at = result.find(cause.english, at + cause.japanese.size())) {
            result.replace(at, cause.english.size(), cause.japanese);
        }
    }
    return result;
}

std::optional<std::string_view> systemCause(std::string_view reason) {
    for (const Cause& cause : causes) {
        if (reason.find(cause.japanese) != std::string_view::npos) return cause.japanese;
    }
    return std::nullopt;
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
