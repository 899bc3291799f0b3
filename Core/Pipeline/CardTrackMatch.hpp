// Whose a file on the card is when it carries no album identity (written by
// an earlier version or another program). It is a planned track's when its
// tags as the file's own tag form holds them (ID3v1: 30-byte fields and no
// album artist; ID3v2 and MP4: whole texts with the album artist) are the
// track's and its length is within one second of the source's. The form comes
// from the card file's bytes, never from the run's profile, so a folder an
// earlier profile wrote is one album's or not as a whole. Tags and lengths
// come from the files' own headers (AudioFacts, AudioLength), never from a
// child process, so a re-export onto an older card costs a few reads a file.
// A file or source that can't be read is no match; a stop before or during a
// read throws Cancelled (never "no match").
#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "Core/Convert/AudioFacts.hpp"
#include "Core/Naming/TrackMeta.hpp"
#include "Core/Pipeline/ConversionPlan.hpp"
#include "Core/SDCard/AlbumFolders.hpp"

namespace tarvik::CardTrackMatch {

using CardFile = AudioFacts::Facts;
using Holder = SDCardTools::AlbumFolders::Holder;

// Whether the card file's tags are the record's, as far as its form holds them.
bool sameTags(const CardFile& card, const TrackMeta& meta);

// Whether the card file's album and album artist, as its form holds them,
// are the record's: the same, different, or no telling, where the form could
// not hold them whole (characters it has no code for were replaced, a name
// was cut, or it holds no album artist at all).
enum class Naming { same, differs, unclear };
Naming naming(const CardFile& card, const TrackMeta& meta);

bool sameTrack(const ConversionPlan::Item& item, const std::filesystem::path& cardFile,
               std::stop_token stop);

// The same for one run: each card file and each source is read once. One
// object per run, on the run's thread.
class Matcher {
public:
    explicit Matcher(std::stop_token stop);

    bool sameTrack(const ConversionPlan::Item& item, const std::filesystem::path& cardFile);

    // Whose the card file is, for the album whose planned tracks are
    // `tracks`: the album's when it is one of them or names the album
    // unmistakably; nobody's when it tells nothing of its album (empty,
    // unreadable or without tags); else another album's.
    Holder holder(const std::vector<const ConversionPlan::Item*>& tracks,
                  const std::filesystem::path& cardFile);

    // What the card file says of itself; nothing when it can't be read.
    const std::optional<CardFile>& card(const std::filesystem::path& cardFile);

private:
    const std::optional<double>& sourceSeconds(const std::filesystem::path& source);

    std::stop_token stop_;
    std::map<std::string, std::optional<CardFile>> cards_;  // by path
    std::map<std::string, std::optional<double>> sources_;  // seconds, by path
};

}  // namespace tarvik::CardTrackMatch
