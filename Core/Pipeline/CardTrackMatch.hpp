// Whether a file on the card that carries no album identity (written by an
// earlier version or another program) is a planned track: its tags as the
// file's own tag form holds them (ID3v1: 30-byte fields and no album artist;
// ID3v2, MP4 and the rest: whole texts with the album artist) are the
// track's, and its length is within one second of the source's where both
// have a true one (CardOwnership). The form comes from the card file's
// bytes, never from the run's profile, so a folder an earlier profile wrote
// is one album's or not as a whole. Lengths come from the files' own
// headers (AudioLength), never from a child process, so a re-export onto an
// older card costs a few reads a file. A stop before or during a read
// throws Cancelled (never "no match").
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "Core/Pipeline/ConversionPlan.hpp"
#include "Core/SDCard/CardOwnership.hpp"

namespace tarvik::CardTrackMatch {

using CardFile = CardOwnership::CardFile;
using CardOwnership::Naming;
using CardOwnership::naming;
using CardOwnership::sameTags;

bool sameTrack(const ConversionPlan::Item& item, const std::filesystem::path& cardFile,
               std::stop_token stop);

// The same for one run: each source's length is read once. One object per
// run, on the run's thread.
class Matcher {
public:
    explicit Matcher(std::stop_token stop);

    bool sameTrack(const ConversionPlan::Item& item, const CardFile& card);

    // Whether the card file is one of `tracks`.
    bool isTrack(const std::vector<const ConversionPlan::Item*>& tracks, const CardFile& card);

private:
    const std::optional<double>& sourceSeconds(const std::filesystem::path& source);

    std::stop_token stop_;
    std::map<std::string, std::optional<double>> sources_;  // seconds, by path
};

}  // namespace tarvik::CardTrackMatch
