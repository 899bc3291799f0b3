// Reads the text that ffmpeg prints with its ffmetadata output format: the
// global section becomes a map of lower-cased keys, and that map gives the
// eight SourceTags fields. Pure functions without state: any thread may call
// them at the same time. They never fail; lines that cannot be read are
// skipped, and text without tags gives empty fields.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "Core/Naming/SourceTags.hpp"

namespace tarvik::FFMetadataParser {

struct Result {
    // Keys unescaped, lower-cased and in NFC; values unescaped and untrimmed.
    std::map<std::string, std::string> global;

    // Same keys, values equal under canonical equivalence.
    bool operator==(const Result& other) const;
};

// The entries of the global section; reading stops at ffmpeg's first section
// header, a line that is exactly "[CHAPTER]" or "[STREAM]".
Result parse(std::string_view text);

// The first non-blank value among each field's keys, trimmed of spaces and
// tabs; track and disc keep what comes before "/", date its first four
// user-perceived characters.
SourceTags tags(const Result& result);

}  // namespace tarvik::FFMetadataParser
