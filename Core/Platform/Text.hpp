// Unicode text operations over UTF-8 std::string, backed by ICU. Every function
// is thread-safe and never throws for bad input: ill-formed UTF-8 is read as
// U+FFFD. Lengths say what they count: scalars, UTF-16 units or grapheme
// clusters (user-perceived characters).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvik::text {

// Normalisation forms.
std::string nfc(std::string_view text);
std::string nfkc(std::string_view text);
std::string nfkd(std::string_view text);

// A file or folder name's comparison form: NFC when it is UTF-8, else its
// bytes unchanged. Names on Linux are bytes; reading two names that are not
// UTF-8 as U+FFFD would make them one.
std::string nfcName(std::string_view name);

// Canonical equivalence: the texts have equal NFC forms.
bool equivalent(std::string_view a, std::string_view b);

// Full lower-case mapping of the root locale (what en_US_POSIX does too).
std::string lower(std::string_view text);
// Full upper-case mapping of the root locale.
std::string upper(std::string_view text);

// Unicode scalars.
std::u32string scalars(std::string_view text);
std::string fromScalars(std::u32string_view scalars);
void appendScalar(std::string& out, char32_t scalar);
std::size_t scalarCount(std::string_view text);
std::string prefixScalars(std::string_view text, std::size_t count);
// The longest start of `text` of at most `count` bytes that ends between two
// scalars (between two bytes where the text is not valid UTF-8).
std::string prefixBytes(std::string_view text, std::size_t count);
bool isASCII(std::string_view text);
bool isValidUTF8(std::string_view text);

// Every occurrence of `from` replaced by `to`, left to right (plain text, no pattern).
std::string replacing(std::string_view text, std::string_view from, std::string_view to);

// UTF-16 code units the text takes.
std::size_t utf16Length(std::string_view text);

// Grapheme clusters, in order; their concatenation is the text.
std::vector<std::string> graphemes(std::string_view text);
std::size_t graphemeCount(std::string_view text);
std::string prefixGraphemes(std::string_view text, std::size_t count);
std::string suffixGraphemes(std::string_view text, std::size_t count);

// White space as the system trims it: general category Zs and the tab, never
// line breaks.
bool isWhitespace(char32_t scalar);
std::string trim(std::string_view text);
// Removes the scalars of `set` from both ends.
std::string trimScalars(std::string_view text, std::u32string_view set);

enum class Category { letter, mark, number, punctuation, symbol, separator, other };
Category category(char32_t scalar);
bool isSpaceSeparator(char32_t scalar);
// Whether the scalar has any Unicode numeric type (decimal, digit or numeric).
bool hasNumericType(char32_t scalar);
// The value of a decimal digit of any script (general category Nd); -1 for any other scalar.
int decimalDigitValue(char32_t scalar);
// The Unicode numeric value (Ⅻ 12, ① 1, ½ 0.5, 五 5), absent where there is none.
std::optional<double> numericValue(char32_t scalar);

}  // namespace tarvik::text
