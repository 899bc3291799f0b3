#include "Core/Naming/FilenameGuesser.hpp"

#include <vector>

#include "Core/Platform/Regex.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik::FilenameGuesser {
namespace {

// "1-05 Song": disc, track, title. The disc is not used.
const Regex& discTrackTitle() {
    static const Regex pattern(R"(^(\d{1,2})[-_ ](\d{1,3})[ ._-]+(.+)$)");
    return pattern;
}

// "05 Song", "05. Song".
const Regex& trackTitle() {
    static const Regex pattern(R"(^(\d{1,3})[ ._-]+(.+)$)");
    return pattern;
}

// A second number left on the title, as in "01 - 02 Song".
const Regex& leadingNumber() {
    static const Regex pattern(R"(^\d{1,3}[-_ ])");
    return pattern;
}

// A dot that begins or ends the name does not start an extension.
std::string_view stem(std::string_view fileName) {
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == fileName.size()) return fileName;
    return fileName.substr(0, dot);
}

std::string withoutLeadingZeros(const std::string& digits) {
    const std::size_t first = digits.find_first_not_of('0');
    return first == std::string::npos ? "0" : digits.substr(first);
}

// The title without a trailing "-" + artist, compared by user-perceived
// characters under canonical equivalence.
std::string withoutArtistSuffix(const std::string& title, std::string_view artist) {
    std::string suffix = "-";
    suffix += artist;
    const std::vector<std::string> clusters = text::graphemes(title);
    const std::size_t length = text::graphemeCount(suffix);
    if (clusters.size() < length) return title;
    std::string head, tail;
    for (std::size_t i = 0; i < clusters.size(); ++i) {
        (i < clusters.size() - length ? head : tail) += clusters[i];
    }
    return text::equivalent(tail, suffix) ? head : title;
}

}  // namespace

bool Guess::operator==(const Guess& other) const {
    return text::equivalent(title, other.title) && text::equivalent(track, other.track);
}

Guess guess(std::string_view fileName, std::string_view artist) {
    const std::string_view name = stem(fileName);
    Guess result;
    if (auto match = discTrackTitle().firstMatch(name)) {
        result.track = withoutLeadingZeros(match->group(2));
        result.title = match->group(3);
    } else if (auto single = trackTitle().firstMatch(name)) {
        result.track = withoutLeadingZeros(single->group(1));
        result.title = single->group(2);
    } else {
        result.title = std::string(name);
    }
    if (!result.track.empty()) {
        if (auto number = leadingNumber().firstMatch(result.title)) {
            result.title.erase(number->begin, number->end - number->begin);
        }
    }
    if (!artist.empty()) result.title = withoutArtistSuffix(result.title, artist);
    result.title = text::trim(result.title);
    return result;
}

}  // namespace tarvik::FilenameGuesser
