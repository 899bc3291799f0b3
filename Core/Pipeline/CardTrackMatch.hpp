// Whether a file on the card that carries no album identity (written by an
// earlier version, under an ID3v1-only unit, or by another program) is a
// planned track: its tags as the file's own tag form holds them are the
// track's, as this run writes them or as an earlier run wrote them from the
// library's record (CardOwnership), and its length is the track's where both
// have a true one. The form comes from the card file's bytes, never from the
// run's profile, so a folder an earlier profile wrote is one album's or not
// as a whole. Lengths come from the files' own headers (AudioLength), never
// from a child process, so a re-export onto an older card costs a few reads
// a file; only where a source's header and the card copy disagree is the
// source decoded, since a cut source's header names audio it never held and
// its copy holds what the conversion made of it. A stop before or during a
// read throws Cancelled (never "no match").
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "Core/Convert/FFmpegRunner.hpp"
#include "Core/Pipeline/ConversionPlan.hpp"
#include "Core/SDCard/CardOwnership.hpp"

namespace tarvik::CardTrackMatch {

using CardFile = CardOwnership::CardFile;
using CardOwnership::Naming;
using CardOwnership::naming;
using CardOwnership::sameTags;

// How long a source plays as ffmpeg decodes it: nothing where it decodes to
// nothing or can't be run. Throws Cancelled when the stop fires.
using Decode =
    std::function<std::optional<double>(const std::filesystem::path& source, std::stop_token stop)>;
Decode decodeWith(std::shared_ptr<const FFmpegRunner> ffmpeg);

bool sameTrack(const ConversionPlan::Item& item, const std::filesystem::path& cardFile,
               std::stop_token stop);

// The same for one run: each source's length is read once, and decoded at
// most once. One object per run, on the run's thread.
class Matcher {
public:
    explicit Matcher(std::stop_token stop, Decode decode = {});

    // Whether a card copy of `source` that plays `card` seconds is as long
    // as the source's audio.
    bool lengthAgrees(const std::filesystem::path& source, const std::optional<double>& card);

    // The card file is the item as this run writes it.
    bool sameTrack(const ConversionPlan::Item& item, const CardFile& card);

    // Whether the card file is one of `tracks`, as this run or an earlier
    // one wrote it.
    bool isTrack(const std::vector<const ConversionPlan::Item*>& tracks, const CardFile& card);

private:
    const std::optional<double>& sourceSeconds(const std::filesystem::path& source);

    std::stop_token stop_;
    Decode decode_;
    std::map<std::string, std::optional<double>> sources_;  // seconds, by path
    std::map<std::string, std::optional<double>> decoded_;  // seconds, by path
};

}  // namespace tarvik::CardTrackMatch
