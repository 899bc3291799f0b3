// Reads a title and a track number out of a file name such as "05 Song.flac"
// or "1-05 Song.flac", for files whose tags lack them. Stateless and pure: the
// three patterns are compiled once per process, so any thread may call it.
// Never fails; a name that matches no pattern gives its stem as the title.
#pragma once

#include <string>
#include <string_view>

namespace tarvik::FilenameGuesser {

struct Guess {
    std::string title{};
    // Empty, "0", or one to three decimal digits without leading ASCII zeros.
    std::string track{};

    // Both fields equal under canonical equivalence.
    bool operator==(const Guess& other) const;
};

// `fileName` is the last path component, extension included. A title ending
// in "-" and `artist` loses that suffix; an empty `artist` cuts nothing.
Guess guess(std::string_view fileName, std::string_view artist);

}  // namespace tarvik::FilenameGuesser
