// The request addresses of the catalogue service's three questions. An
// address is also the key under which an answer is cached and stored, so the
// same question must always give the same bytes: item order, escaping and
// upper-case hexadecimal digits are part of the stored data's format. Pure
// functions, callable from any thread; the base address is process-wide and
// may be replaced (tests point it at a local server).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarvik::ITunesURL {

using Item = std::pair<std::string, std::string>;

// The public service's search address, ending in "/".
inline constexpr std::string_view defaultBase = "https://itunes.apple.com/";

// The endpoint path is appended to it directly, so it should end in "/".
std::string base();
// Replaces the base address for the whole process; returns the one before.
std::string setBase(std::string address);

// Letters, digits and "-._~" stay; the space becomes "+"; every other byte
// (each byte of a multi-byte character too) becomes "%XX". Not normalised.
std::string percentEncode(std::string_view text);

// base + path + "?" + the caller's items, then country and language.
std::string url(std::string_view path, const std::vector<Item>& items);

// The term is the artist unchanged, a space and the title without bracketed
// parts (the whole title when nothing else is left).
std::string search(std::string_view artist, std::string_view title, std::string_view entity);
std::string albumSearch(std::string_view artist, std::string_view album);
std::string songSearch(std::string_view artist, std::string_view title);
std::string lookup(std::int64_t collectionId);

}  // namespace tarvik::ITunesURL
