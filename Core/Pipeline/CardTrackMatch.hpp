// Whether a file on the card that carries no album identity (written by an
// earlier version or another program) is a planned track's: its tags as the
// file's own tag form holds them (ID3v1: 30-byte fields and no album artist;
// ID3v2 and MP4: whole texts with the album artist) are the track's, and its
// length is within one second of the source's. The form comes from the card
// file's bytes, never from the run's profile, so a folder an earlier profile
// wrote is one album's or not as a whole. ffmpeg reads the tags, so a run
// asks only for such files. A file or source that ffmpeg can't read is no
// match; a stop before or during a probe throws Cancelled (never "no match").
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>

#include "Core/Convert/FFmpegRunner.hpp"
#include "Core/Naming/SourceTags.hpp"
#include "Core/Naming/TrackMeta.hpp"
#include "Core/Pipeline/ConversionPlan.hpp"

namespace tarvik::CardTrackMatch {

// What a card file says of itself.
struct CardFile {
    enum class Form { id3v2, id3v1, mp4 };
    Form form = Form::id3v2;
    SourceTags tags;  // as ffmpeg reads them
    // The ID3v1 trailer's 128 bytes under that form: ffmpeg passes its bytes
    // on in no known encoding, so they are compared as bytes.
    Bytes trailer;
    double seconds = 0;
};

// The card file's form, tags and length; nothing when ffmpeg can't read it.
std::optional<CardFile> readCard(const FFmpegRunner& ffmpeg, const std::filesystem::path& file,
                                 std::stop_token stop);

// Whether the card file's tags are the record's, as far as its form holds them.
bool sameTags(const CardFile& card, const TrackMeta& meta);

bool sameTrack(const FFmpegRunner& ffmpeg, const ConversionPlan::Item& item,
               const std::filesystem::path& cardFile, std::stop_token stop);

// The same for one run: each card file and each source is read once. One
// object per run, on the run's thread.
class Matcher {
public:
    Matcher(std::shared_ptr<const FFmpegRunner> ffmpeg, std::stop_token stop);

    bool sameTrack(const ConversionPlan::Item& item, const std::filesystem::path& cardFile);

private:
    std::shared_ptr<const FFmpegRunner> ffmpeg_;
    std::stop_token stop_;
    std::map<std::string, std::optional<CardFile>> cards_;  // by path
    std::map<std::string, std::optional<double>> sources_;  // seconds, by path
};

}  // namespace tarvik::CardTrackMatch
