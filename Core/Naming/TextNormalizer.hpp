// Clean-ups and comparisons of tag values and catalogue titles: marker
// removal, remaster notes, a trailing Single or EP designation, bracketed
// parts, comparison keys, the numbers and version markers that tell two
// texts apart whatever their letters, and two similarity measures. Stateless
// and pure; the shared patterns are compiled once per process, so every
// function may run on any thread.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Platform/Regex.hpp"

namespace tarvik::TextNormalizer {

// "\s*[\[(](Explicit|Clean)[\])]", case-insensitive.
const Regex& explicitClean();
// A bracketed part with the white space before it; opening and closing kinds need not pair.
const Regex& brackets();
// A bracketed remaster note, or a trailing "- … remaster(ed) …".
const Regex& remaster();
// "\s+-\s+(Single|EP)$", case-sensitive.
const Regex& singleEP();
// "\s+".
const Regex& whitespaceRuns();

// NFC, markers removed, ideographic spaces and white-space runs made one
// space, trimmed.
std::string clean(std::string_view text);
// clean() without a remaster note; clean() of the input when that leaves nothing.
std::string cleanTitle(std::string_view text);
// clean() without a trailing " - Single" or " - EP".
std::string cleanAlbum(std::string_view text);
// Bracketed parts removed, trimmed; not normalised.
std::string stripBrackets(std::string_view text);

// NFKC, lower-cased, only letters, marks and numbers kept.
std::string key(std::string_view text);

// The numbers of a text in order, each as its value in decimal without
// leading zeros, whatever their written form: digits of any script and width
// ("Vol. 01 (1986)" gives "1", "1986"), circled and other numeric signs
// ("②"), Unicode roman numerals ("Ⅲ"), kanji numerals ("第二十一夜" 21),
// English number words and ordinals ("Twenty-One", "First"), and roman
// numerals in letters where titles number with them: after a word such as
// Part, Vol., No., Act, Chapter, Book, Disc or Night ("Part iii"), after
// "第", or as a word in capitals of two letters or more made of I, V and X
// anywhere ("Budokan II", "Rocky II Soundtrack"). A lone "I" counts only as
// "Part I" does, never as a pronoun; "Mix", "Vivid", "Civil" or "Malcolm X"
// hold no number.
std::vector<std::string> numbers(std::string_view text);
// The version markers in brackets or after a dash, each under one name
// ("live", "demo", "mono", "remix", "acoustic", "instrumental", "karaoke",
// "edit"); "version" only where no other marker says which.
std::set<std::string> versions(std::string_view text);
// Whether two texts name different things whatever their ratio: their
// number lists differ (also where one has a number and the other none), or
// their version markers do. Remaster notes and a Single or EP
// designation are left aside, as the clean-ups drop them anyway.
bool differ(std::string_view x, std::string_view y);

// Equal keys, and the texts do not differ(): the same text whatever its
// composition, case, width, spacing and punctuation, never a near one;
// never true for an empty key of x.
bool same(std::string_view x, std::string_view y);
// 0 to 1: the better of the keys' ratio and the bracket-stripped keys' ratio;
// 0 where the texts differ().
double similarity(std::string_view x, std::string_view y);
// Equal keys, or a ratio of 0.92 or more, and the texts do not differ();
// never true for an empty key of x.
bool similar(std::string_view x, std::string_view y);

}  // namespace tarvik::TextNormalizer
