// Reading and writing the program's JSON files. Reading reports the four kinds
// of decoding error of a JSON decoder (key not found, type mismatch, value not
// found, data corrupted) as DecodingError, naming the path of the key, and
// never yields a partial record: the caller decides whether to skip the file.
// Writing is pretty-printed with the keys sorted at every level and "/" not
// escaped. Plain values; thread-safe as values are.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik {

class DecodingError : public std::exception {
public:
    enum class Kind { keyNotFound, typeMismatch, valueNotFound, dataCorrupted };

    DecodingError(Kind kind, std::string codingPath, std::string detail);

    Kind kind() const { return kind_; }
    // Dotted path of the key concerned, such as "files.root" or "entries[2].from";
    // empty for the whole document.
    const std::string& codingPath() const { return codingPath_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    Kind kind_;
    std::string codingPath_;
    std::string message_;
};

namespace json {

// Parses a whole document; malformed text, and any other failure of the JSON
// library (a number beyond a double's range), is dataCorrupted.
nlohmann::json parse(std::string_view text);

// Pretty-printed, keys sorted, "/" not escaped, ending in a line break.
std::string pretty(const nlohmann::json& value);

// A JSON object being decoded, with the path that errors report.
class ObjectReader {
public:
    // Throws typeMismatch when `value` is not an object.
    explicit ObjectReader(const nlohmann::json& value, std::string path = {});

    bool contains(std::string_view key) const;
    // Present and not null.
    bool hasValue(std::string_view key) const;

    // Required members: keyNotFound when absent, valueNotFound when null,
    // typeMismatch when of another JSON type.
    std::string string(std::string_view key) const;
    std::int64_t integer(std::string_view key) const;
    bool boolean(std::string_view key) const;
    double number(std::string_view key) const;
    ObjectReader object(std::string_view key) const;
    // The array itself, not a copy: copying a value copies its nesting
    // recursively, and a hostile file nests deep enough to end the stack.
    const nlohmann::json& array(std::string_view key) const;

    // Optional members: absent or null give nothing; another type still fails.
    std::optional<std::string> optionalString(std::string_view key) const;
    std::optional<std::int64_t> optionalInteger(std::string_view key) const;
    std::optional<bool> optionalBoolean(std::string_view key) const;
    std::optional<ObjectReader> optionalObject(std::string_view key) const;

    // The path of a member, for errors raised by the caller (an unknown
    // enumeration string is dataCorrupted at that path).
    std::string pathOf(std::string_view key) const;
    const std::string& path() const { return path_; }

private:
    const nlohmann::json& required(std::string_view key) const;

    const nlohmann::json* value_;
    std::string path_;
};

// The value's own decoders, for array elements and other bare values.
std::string asString(const nlohmann::json& value, const std::string& path);
std::int64_t asInteger(const nlohmann::json& value, const std::string& path);
bool asBoolean(const nlohmann::json& value, const std::string& path);
double asNumber(const nlohmann::json& value, const std::string& path);

}  // namespace json
}  // namespace tarvik
