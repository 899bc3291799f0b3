// The numbers a title holds, whatever their written form. Titles tell their
// parts, volumes, nights and movements apart by numbers written in every way
// ("Part 2", "Part II", "Part Two", "第二夜", "第Ⅱ曲", "②"), and two texts
// that differ in nothing but such a number are two things, however close
// their letters. Words that only look like numerals ("I Will", "Mix",
// "Vivid", "AC/DC") must not count, so a roman numeral written with letters
// counts only where titles number things with it.

#include <charconv>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string_view>
#include <tuple>
#include <vector>

#include "Core/Naming/TextNormalizer.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik::TextNormalizer {
namespace {

std::string decimal(std::uint64_t value) {
    char digits[24];
    const auto written = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, written.ptr);
}

// One piece of a title: a word of letters as written (after NFKC), a number
// already read as a value, a run of white space, or one other scalar.
struct Token {
    enum class Kind { word, number, space, mark } kind;
    std::string text;     // the word, or the number in decimal without leading zeros
    char32_t scalar = 0;  // a mark's
    bool latin = false;   // a word's letters are Latin
};

bool isLatin(char32_t scalar) {
    return scalar < 0x0250 || (scalar >= 0x1E00 && scalar <= 0x1EFF);
}

bool isUnicodeRoman(char32_t scalar) {
    // Ⅰ … ↂ and ↅ … ↈ; U+2183 and U+2184 are letters (a reversed C).
    return (scalar >= 0x2160 && scalar <= 0x2182) || (scalar >= 0x2185 && scalar <= 0x2188);
}

// The value of a roman numeral in lower-case letters, when it is one written
// as numerals are written ("iv", not "iiii"); `letters` limits the letters.
std::optional<std::uint64_t> romanValue(std::string_view numeral, std::string_view letters) {
    static const std::map<char, std::int64_t> values = {
        {'i', 1}, {'v', 5}, {'x', 10}, {'l', 50}, {'c', 100}, {'d', 500}, {'m', 1000}};
    if (numeral.empty() || numeral.find_first_not_of(letters) != std::string_view::npos) {
        return std::nullopt;
    }
    std::int64_t total = 0;
    for (std::size_t i = 0; i < numeral.size(); ++i) {
        const std::int64_t value = values.at(numeral[i]);
        const bool subtracted = i + 1 < numeral.size() && values.at(numeral[i + 1]) > value;
        total = subtracted ? total - value : total + value;
    }
    // Only the canonical spelling of its value reads as a numeral: "iix",
    // "vx" and "iiii" are words, or nothing.
    static const std::vector<std::pair<std::int64_t, std::string_view>> spelling = {
        {1000, "m"}, {900, "cm"}, {500, "d"}, {400, "cd"}, {100, "c"}, {90, "xc"}, {50, "l"},
        {40, "xl"},  {10, "x"},   {9, "ix"},  {5, "v"},    {4, "iv"},  {1, "i"}};
    std::string canonical;
    for (std::int64_t rest = total; const auto& [value, text] : spelling) {
        for (; rest >= value && canonical.size() <= numeral.size(); rest -= value)
            canonical += text;
    }
    if (total <= 0 || total > 3999 || canonical != numeral) return std::nullopt;
    return static_cast<std::uint64_t>(total);
}

// Kanji numerals: positional ("二〇一九") or with powers of ten ("二十一",
// "三百五十", "一万二千").
std::optional<int> kanjiDigit(char32_t scalar) {
    static const std::map<char32_t, int> digits = {{U'〇', 0}, {U'零', 0}, {U'一', 1}, {U'二', 2},
                                                   {U'三', 3}, {U'四', 4}, {U'五', 5}, {U'六', 6},
                                                   {U'七', 7}, {U'八', 8}, {U'九', 9}};
    const auto found = digits.find(scalar);
    return found == digits.end() ? std::nullopt : std::optional<int>(found->second);
}

std::optional<std::uint64_t> kanjiUnit(char32_t scalar) {
    static const std::map<char32_t, std::uint64_t> units = {
        {U'十', 10}, {U'百', 100}, {U'千', 1000}, {U'万', 10'000}, {U'億', 100'000'000}};
    const auto found = units.find(scalar);
    return found == units.end() ? std::nullopt : std::optional<std::uint64_t>(found->second);
}

std::string kanjiValue(std::u32string_view run) {
    bool withUnits = false;
    for (char32_t scalar : run) withUnits = withUnits || kanjiUnit(scalar).has_value();
    if (!withUnits) {
        std::string digits;
        for (char32_t scalar : run) digits += static_cast<char>('0' + *kanjiDigit(scalar));
        const std::size_t significant = digits.find_first_not_of('0');
        return significant == std::string::npos ? "0" : digits.substr(significant);
    }
    std::uint64_t total = 0, section = 0, digit = 0;
    for (char32_t scalar : run) {
        if (const auto value = kanjiDigit(scalar)) {
            digit = static_cast<std::uint64_t>(*value);
        } else if (const std::uint64_t unit = *kanjiUnit(scalar); unit < 10'000) {
            section += (digit == 0 ? 1 : digit) * unit;
            digit = 0;
        } else {
            total += (section + digit == 0 ? 1 : section + digit) * unit;
            section = digit = 0;
        }
    }
    return decimal(total + section + digit);
}

// A run of Unicode roman numerals ("Ⅹ", "Ⅱ") is one numeral where it reads
// as one, else each is a number of its own.
void appendRomanGlyphs(std::u32string_view run, std::vector<Token>& tokens) {
    const std::string letters = text::lower(text::nfkc(text::fromScalars(run)));
    if (const auto value = romanValue(letters, "ivxlcdm")) {
        tokens.push_back({Token::Kind::number, decimal(*value)});
        return;
    }
    for (char32_t scalar : run) {
        const double each = text::numericValue(scalar).value_or(0);
        tokens.push_back({Token::Kind::number, decimal(static_cast<std::uint64_t>(each))});
    }
}

// A number that is one sign: ❶, ⓫ and the like that NFKC leaves as they are.
std::optional<std::uint64_t> numberSign(char32_t scalar) {
    const auto value = text::numericValue(scalar);
    if (!value || *value < 0 || *value > 1e15) return std::nullopt;
    const auto whole = static_cast<std::uint64_t>(*value);
    if (static_cast<double>(whole) != *value) return std::nullopt;  // ½ is no count of anything
    return whole;
}

bool isKanjiNumeral(char32_t scalar) {
    return kanjiDigit(scalar).has_value() || kanjiUnit(scalar).has_value();
}

// The digits from `at` on, as one number without leading zeros; `at` moves past them.
std::string digitRun(const std::u32string& scalars, std::size_t& at) {
    std::string digits;
    for (; at < scalars.size() && text::decimalDigitValue(scalars[at]) >= 0; ++at) {
        if (digits == "0") digits.clear();
        digits += static_cast<char>('0' + text::decimalDigitValue(scalars[at]));
    }
    return digits;
}

void appendPlain(const std::u32string& scalars, std::vector<Token>& tokens) {
    for (std::size_t at = 0; at < scalars.size();) {
        const char32_t scalar = scalars[at];
        const text::Category category = text::category(scalar);
        if (text::decimalDigitValue(scalar) >= 0) {
            tokens.push_back({Token::Kind::number, digitRun(scalars, at)});
            continue;
        }
        if (isKanjiNumeral(scalar)) {
            const std::size_t from = at;
            while (at < scalars.size() && isKanjiNumeral(scalars[at])) ++at;
            tokens.push_back({Token::Kind::number,
                              kanjiValue(std::u32string_view(scalars).substr(from, at - from))});
            continue;
        }
        if (category == text::Category::letter || category == text::Category::mark) {
            // Japanese writes no spaces: "第II章" is three words.
            if (tokens.empty() || tokens.back().kind != Token::Kind::word ||
                (category == text::Category::letter && isLatin(scalar) != tokens.back().latin)) {
                tokens.push_back({Token::Kind::word, {}, 0, isLatin(scalar)});
            }
            text::appendScalar(tokens.back().text, scalar);
        } else if (const auto sign = numberSign(scalar)) {
            tokens.push_back({Token::Kind::number, decimal(*sign)});
        } else if (text::isWhitespace(scalar) || category == text::Category::separator ||
                   scalar == U'\n' || scalar == U'\r') {
            if (tokens.empty() || tokens.back().kind != Token::Kind::space)
                tokens.push_back({Token::Kind::space, {}});
        } else {
            tokens.push_back({Token::Kind::mark, {}, scalar});
        }
        ++at;
    }
}

// The title cut into tokens. Unicode roman numerals are read before NFKC,
// which would make them letters; everything else after it, so that
// full-width letters and digits and circled numbers read as plain ones.
std::vector<Token> tokenize(std::string_view text) {
    std::vector<Token> tokens;
    const std::u32string scalars = text::scalars(text::nfc(text));
    for (std::size_t from = 0; from < scalars.size();) {
        const bool roman = isUnicodeRoman(scalars[from]);
        std::size_t to = from;
        while (to < scalars.size() && isUnicodeRoman(scalars[to]) == roman) ++to;
        const std::u32string_view part = std::u32string_view(scalars).substr(from, to - from);
        if (roman) {
            appendRomanGlyphs(part, tokens);
        } else {
            appendPlain(text::scalars(text::nfkc(text::fromScalars(part))), tokens);
        }
        from = to;
    }
    return tokens;
}

// English number words and ordinals, as words of their own.
struct NumberWord {
    enum class Kind { unit, teen, ten, hundred, thousand } kind;
    std::uint64_t value;
    bool ordinal;
};

std::optional<NumberWord> numberWord(const std::string& word) {
    using K = NumberWord::Kind;
    static const std::map<std::string, NumberWord, std::less<>> words = [] {
        std::map<std::string, NumberWord, std::less<>> table;
        const std::vector<std::tuple<const char*, const char*, K, std::uint64_t>> rows = {
            {"zero", "zeroth", K::unit, 0},
            {"one", "first", K::unit, 1},
            {"two", "second", K::unit, 2},
            {"three", "third", K::unit, 3},
            {"four", "fourth", K::unit, 4},
            {"five", "fifth", K::unit, 5},
            {"six", "sixth", K::unit, 6},
            {"seven", "seventh", K::unit, 7},
            {"eight", "eighth", K::unit, 8},
            {"nine", "ninth", K::unit, 9},
            {"ten", "tenth", K::teen, 10},
            {"eleven", "eleventh", K::teen, 11},
            {"twelve", "twelfth", K::teen, 12},
            {"thirteen", "thirteenth", K::teen, 13},
            {"fourteen", "fourteenth", K::teen, 14},
            {"fifteen", "fifteenth", K::teen, 15},
            {"sixteen", "sixteenth", K::teen, 16},
            {"seventeen", "seventeenth", K::teen, 17},
            {"eighteen", "eighteenth", K::teen, 18},
            {"nineteen", "nineteenth", K::teen, 19},
            {"twenty", "twentieth", K::ten, 20},
            {"thirty", "thirtieth", K::ten, 30},
            {"forty", "fortieth", K::ten, 40},
            {"fifty", "fiftieth", K::ten, 50},
            {"sixty", "sixtieth", K::ten, 60},
            {"seventy", "seventieth", K::ten, 70},
            {"eighty", "eightieth", K::ten, 80},
            {"ninety", "ninetieth", K::ten, 90},
            {"hundred", "hundredth", K::hundred, 100},
            {"thousand", "thousandth", K::thousand, 1000}};
        for (const auto& [cardinal, ordinal, kind, value] : rows) {
            table.emplace(cardinal, NumberWord{kind, value, false});
            table.emplace(ordinal, NumberWord{kind, value, true});
        }
        return table;
    }();
    const auto found = words.find(text::lower(word));
    return found == words.end() ? std::nullopt : std::optional<NumberWord>(found->second);
}

// Reads "Twenty-One", "One Hundred and Five", "Twenty First" as one number
// each; words that cannot go on one number ("One Two") are numbers of their own.
class WordNumber {
public:
    // False when `word` cannot continue the number read so far.
    bool add(const NumberWord& word) {
        using K = NumberWord::Kind;
        if (ended_) return false;
        const bool open = !last_ || *last_ == K::hundred || *last_ == K::thousand;
        switch (word.kind) {
            case K::unit:
                if (!open && *last_ != K::ten) return false;
                current_ += word.value;
                break;
            case K::teen:
            case K::ten:
                if (!open) return false;
                current_ += word.value;
                break;
            case K::hundred:
                if (last_ && *last_ != K::unit && *last_ != K::teen) return false;
                current_ = (current_ == 0 ? 1 : current_) * 100;
                break;
            case K::thousand:
                if (last_ == K::thousand) return false;
                total_ += (current_ == 0 ? 1 : current_) * 1000;
                current_ = 0;
                break;
        }
        last_ = word.kind;
        ended_ = word.ordinal;
        return true;
    }
    bool takesAnd() const {
        return last_ == NumberWord::Kind::hundred || last_ == NumberWord::Kind::thousand;
    }
    std::string value() const { return decimal(total_ + current_); }

private:
    std::uint64_t total_ = 0, current_ = 0;
    std::optional<NumberWord::Kind> last_;
    bool ended_ = false;
};

// Words after which titles number things, roman numerals included.
bool isNumberingWord(const std::string& lowered) {
    static const std::set<std::string, std::less<>> words = {
        "part",     "pt",     "vol",      "volume", "no",     "nr",    "number", "act",
        "chapter",  "chap",   "ch",       "book",   "disc",   "disk",  "night",  "episode",
        "movement", "mvt",    "op",       "opus",   "season", "scene", "phase",  "stage",
        "symphony", "sonata", "concerto", "suite",  "round",  "level"};
    return words.contains(lowered);
}

// Where a roman numeral in letters is one: after a numbering word ("Part
// II", "Vol. iv"; a single letter only where it ends a title or part of one,
// "Part I", as "Every Night I Dream" holds a pronoun), after "第", or
// anywhere as a word in capitals of two letters or more of I, V and X
// ("Budokan II", "Rocky II Soundtrack", "Louis XIV Suite"; not "Who Am I",
// "Malcolm X" or "Club MIX"): no English word is written so.
bool countsAsRoman(const std::vector<Token>& tokens, std::size_t at) {
    const std::string lowered = text::lower(tokens[at].text);
    if (!romanValue(lowered, "ivxlc")) return false;

    std::size_t after = at + 1;
    while (after < tokens.size() && tokens[after].kind == Token::Kind::space) ++after;
    const bool endsPart = after == tokens.size() ||
                          (tokens[after].kind == Token::Kind::mark &&
                           tokens[after].scalar != U'\'' && tokens[after].scalar != U'\u2019');

    if (at > 0 && tokens[at - 1].kind == Token::Kind::word &&
        tokens[at - 1].text.ends_with("\u7B2C")) {  // 第
        return true;
    }
    std::size_t before = at;
    bool spaced = false, dotted = false;
    while (before > 0 && tokens[before - 1].kind == Token::Kind::space) {
        --before;
        spaced = true;
    }
    if (before > 0 && tokens[before - 1].kind == Token::Kind::mark &&
        tokens[before - 1].scalar == U'.') {
        --before;
        dotted = true;
    }
    if ((spaced || dotted) && before > 0 && tokens[before - 1].kind == Token::Kind::word) {
        const std::string marker = text::lower(tokens[before - 1].text);
        // "No I Won't" is no numbering: "No." and "Nr." only with their dot.
        const bool numbering =
            isNumberingWord(marker) && (dotted || (marker != "no" && marker != "nr"));
        if (numbering) return lowered.size() >= 2 || endsPart;
    }
    return lowered.size() >= 2 && tokens[at].text == text::upper(tokens[at].text) &&
           romanValue(lowered, "ivx").has_value();
}

// The number that the number words from `at` on make, joined by single
// blanks or hyphens (and an "and" after a hundred or thousand) while they
// can; `at` moves to the last word taken.
std::string wordNumber(const std::vector<Token>& tokens, std::size_t& at) {
    WordNumber number;
    number.add(*numberWord(tokens[at].text));
    for (std::size_t j = at + 1; j + 1 < tokens.size(); j += 2) {
        const bool joined = tokens[j].kind == Token::Kind::space ||
                            (tokens[j].kind == Token::Kind::mark &&
                             (tokens[j].scalar == U'-' || tokens[j].scalar == U'\u2010'));
        if (!joined || tokens[j + 1].kind != Token::Kind::word) break;
        if (text::lower(tokens[j + 1].text) == "and" && number.takesAnd() &&
            j + 3 < tokens.size() && tokens[j + 2].kind == Token::Kind::space &&
            tokens[j + 3].kind == Token::Kind::word && numberWord(tokens[j + 3].text)) {
            j += 2;
        }
        const auto next = numberWord(tokens[j + 1].text);
        if (!next || !number.add(*next)) break;
        at = j + 1;
    }
    return number.value();
}

}  // namespace

std::vector<std::string> numbers(std::string_view text) {
    const std::vector<Token> tokens = tokenize(text);
    std::vector<std::string> found;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens[i];
        if (token.kind == Token::Kind::number) {
            found.push_back(token.text);
        } else if (token.kind != Token::Kind::word) {
            continue;
        } else if (numberWord(token.text)) {
            found.push_back(wordNumber(tokens, i));
        } else if (countsAsRoman(tokens, i)) {
            found.push_back(decimal(*romanValue(text::lower(token.text), "ivxlc")));
        }
    }
    return found;
}

}  // namespace tarvik::TextNormalizer
