// The raw tags of one source file, as the tag probe reads them: eight texts,
// the empty text meaning that the file has no such tag. A plain value, safe to
// copy across threads; building a normalised track record from it is the job
// of TrackMeta.
#pragma once

#include <string>

namespace tarvik {

struct SourceTags {
    std::string title{};
    std::string artist{};
    std::string albumArtist{};
    std::string album{};
    std::string track{};
    std::string disc{};
    std::string date{};
    std::string genre{};

    // Field by field, texts compared under canonical equivalence.
    bool operator==(const SourceTags& other) const;
};

}  // namespace tarvik
