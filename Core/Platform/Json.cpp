#include "Core/Platform/Json.hpp"

#include <cmath>

namespace tarvik {
namespace {

std::string messageFor(DecodingError::Kind kind, const std::string& path,
                       const std::string& detail) {
    const std::string where = path.empty() ? std::string("JSON") : "キー「" + path + "」";
    std::string message;
    switch (kind) {
        case DecodingError::Kind::keyNotFound:
            message = where + "がありません";
            break;
        case DecodingError::Kind::typeMismatch:
            message = where + "の型が違います";
            break;
        case DecodingError::Kind::valueNotFound:
            message = where + "の値がありません";
            break;
        case DecodingError::Kind::dataCorrupted:
            message = where + "を読めません";
            break;
    }
    if (!detail.empty()) message += "（" + detail + "）";
    return message;
}

}  // namespace

DecodingError::DecodingError(Kind kind, std::string codingPath, std::string detail)
    : kind_(kind),
      codingPath_(std::move(codingPath)),
      message_(messageFor(kind_, codingPath_, detail)) {}

namespace json {

nlohmann::json parse(std::string_view text) {
    try {
        return nlohmann::json::parse(text.begin(), text.end());
    } catch (const nlohmann::json::exception& error) {
        // Not only syntax: a number too large for a double ("1e400") is the
        // library's out_of_range, and every such failure is bad data.
        throw DecodingError(DecodingError::Kind::dataCorrupted, {}, error.what());
    }
}

std::string pretty(const nlohmann::json& value) {
    // nlohmann::json keeps objects in a std::map, so keys come out sorted at
    // every level; it never escapes "/". Invalid UTF-8 is written as U+FFFD
    // rather than failing the whole file.
    return value.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

namespace {

[[noreturn]] void mismatch(const std::string& path, const char* expected) {
    throw DecodingError(DecodingError::Kind::typeMismatch, path,
                        std::string(expected) + "が必要です");
}

void requireNotNull(const nlohmann::json& value, const std::string& path) {
    if (value.is_null()) throw DecodingError(DecodingError::Kind::valueNotFound, path, {});
}

}  // namespace

std::string asString(const nlohmann::json& value, const std::string& path) {
    requireNotNull(value, path);
    if (!value.is_string()) mismatch(path, "文字列");
    return value.get<std::string>();
}

std::int64_t asInteger(const nlohmann::json& value, const std::string& path) {
    requireNotNull(value, path);
    // is_number_integer() holds for unsigned values too, so test those first:
    // 2^63 and above would otherwise wrap to negative numbers.
    if (value.is_number_unsigned()) {
        auto unsignedValue = value.get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(INT64_MAX)) {
            throw DecodingError(DecodingError::Kind::dataCorrupted, path, "整数が大きすぎます");
        }
        return static_cast<std::int64_t>(unsignedValue);
    }
    if (value.is_number_integer()) return value.get<std::int64_t>();
    if (value.is_number_float()) {
        // A decoder accepts 192.0 for an integer but not 192.5.
        double number = value.get<double>();
        if (std::trunc(number) == number && std::abs(number) < 9.2e18) {
            return static_cast<std::int64_t>(number);
        }
        throw DecodingError(DecodingError::Kind::dataCorrupted, path, "整数ではありません");
    }
    mismatch(path, "整数");
}

bool asBoolean(const nlohmann::json& value, const std::string& path) {
    requireNotNull(value, path);
    if (!value.is_boolean()) mismatch(path, "真偽値");
    return value.get<bool>();
}

double asNumber(const nlohmann::json& value, const std::string& path) {
    requireNotNull(value, path);
    if (!value.is_number()) mismatch(path, "数値");
    return value.get<double>();
}

ObjectReader::ObjectReader(const nlohmann::json& value, std::string path)
    : value_(&value), path_(std::move(path)) {
    requireNotNull(value, path_);
    if (!value.is_object()) mismatch(path_, "オブジェクト");
}

bool ObjectReader::contains(std::string_view key) const {
    return value_->contains(key);
}

bool ObjectReader::hasValue(std::string_view key) const {
    auto found = value_->find(key);
    return found != value_->end() && !found->is_null();
}

std::string ObjectReader::pathOf(std::string_view key) const {
    return path_.empty() ? std::string(key) : path_ + "." + std::string(key);
}

const nlohmann::json& ObjectReader::required(std::string_view key) const {
    auto found = value_->find(key);
    if (found == value_->end()) {
        throw DecodingError(DecodingError::Kind::keyNotFound, pathOf(key), {});
    }
    return *found;
}

std::string ObjectReader::string(std::string_view key) const {
    return asString(required(key), pathOf(key));
}

std::int64_t ObjectReader::integer(std::string_view key) const {
    return asInteger(required(key), pathOf(key));
}

bool ObjectReader::boolean(std::string_view key) const {
    return asBoolean(required(key), pathOf(key));
}

double ObjectReader::number(std::string_view key) const {
    return asNumber(required(key), pathOf(key));
}

ObjectReader ObjectReader::object(std::string_view key) const {
    return ObjectReader(required(key), pathOf(key));
}

const nlohmann::json& ObjectReader::array(std::string_view key) const {
    const nlohmann::json& value = required(key);
    requireNotNull(value, pathOf(key));
    if (!value.is_array()) mismatch(pathOf(key), "配列");
    return value;
}

std::optional<std::string> ObjectReader::optionalString(std::string_view key) const {
    if (!hasValue(key)) return std::nullopt;
    return string(key);
}

std::optional<std::int64_t> ObjectReader::optionalInteger(std::string_view key) const {
    if (!hasValue(key)) return std::nullopt;
    return integer(key);
}

std::optional<bool> ObjectReader::optionalBoolean(std::string_view key) const {
    if (!hasValue(key)) return std::nullopt;
    return boolean(key);
}

std::optional<ObjectReader> ObjectReader::optionalObject(std::string_view key) const {
    if (!hasValue(key)) return std::nullopt;
    return object(key);
}

}  // namespace json
}  // namespace tarvik
