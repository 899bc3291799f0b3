#include "Core/Pipeline/CardTrackMatch.hpp"

#include <charconv>
#include <cmath>
#include <optional>
#include <string>

#include "Core/Convert/Converter.hpp"
#include "Core/Naming/FFMetadataParser.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/TextEncoding.hpp"

namespace tarvik::CardTrackMatch {
namespace {

struct Probed {
    SourceTags tags;
    double seconds = 0;
};

// "Duration: 00:03:21.05" of ffmpeg's description of its input.
std::optional<double> durationIn(std::string_view text) {
    const std::size_t at = text.find("Duration: ");
    if (at == std::string_view::npos || text.size() < at + 21) return std::nullopt;
    const std::string_view clock = text.substr(at + 10, 11);  // HH:MM:SS.cc
    int hours = 0, minutes = 0;
    double seconds = 0;
    if (std::from_chars(clock.data(), clock.data() + 2, hours).ec != std::errc{} ||
        std::from_chars(clock.data() + 3, clock.data() + 5, minutes).ec != std::errc{} ||
        std::from_chars(clock.data() + 6, clock.data() + 11, seconds).ec != std::errc{}) {
        return std::nullopt;
    }
    return hours * 3600.0 + minutes * 60.0 + seconds;
}

// Throws Cancelled when stopped before or during the probe: a stopped
// child's output says nothing about the file.
std::optional<Probed> probe(const FFmpegRunner& ffmpeg, const std::filesystem::path& file,
                            std::stop_token stop) {
    try {
        FFmpegRunner::Output output =
            ffmpeg.runRaw({"-i", std::filesystem::absolute(file).string(), "-f", "ffmetadata",
                           "pipe:1"},
                          std::nullopt, stop);
        if (stop.stop_requested()) throw Cancelled();
        const std::optional<double> seconds = durationIn(output.stderr);
        if (output.exitCode != 0 || !seconds) return std::nullopt;
        return Probed{FFMetadataParser::tags(FFMetadataParser::parse(text::decodeUTF8(output.stdout))),
                      *seconds};
    } catch (const Cancelled&) {
        throw;
    } catch (...) {
        return std::nullopt;
    }
}

// Bytes under the ISO-8859-1 code as ffmpeg reads them: one character a byte,
// trailing zeros and spaces dropped.
std::string latin1(Bytes::const_iterator begin, Bytes::const_iterator end) {
    std::u32string scalars(begin, end);
    while (!scalars.empty() && (scalars.back() == 0 || scalars.back() == U' ')) scalars.pop_back();
    return text::fromScalars(scalars);
}

// The text as ffmpeg reads it back from the frame the run's ID3 writer makes:
// Shift-JIS bytes under the ISO-8859-1 code come back one character a byte.
std::string asWritten(const ID3Writer& writer, std::string_view text) {
    if (text.empty()) return {};
    const Bytes frame = writer.textFrame("TIT2", text);
    if (frame.size() < 12 || frame[10] != 0x00) return std::string(text);
    return latin1(frame.begin() + 11, frame.end());
}

// Title, artist, album and track number as ffmpeg reads them from a file the
// run writes under the profile.
SourceTags expected(const DeviceProfile& profile, const TrackMeta& meta) {
    if (profile.audio.codec != DeviceProfile::Audio::Codec::mp3) {
        return {.title = meta.title, .artist = meta.artist, .album = meta.album, .track = meta.track};
    }
    const ID3Writer writer = Converter::id3Writer(profile.tags);
    if (writer.writeV2) {
        return {.title = asWritten(writer, meta.title),
                .artist = asWritten(writer, meta.artist),
                .album = asWritten(writer, meta.album),
                .track = meta.track};
    }
    // The trailer alone: fields of 30 bytes and a track byte.
    const Bytes v1 = writer.encodeV1(
        {.title = meta.title, .artist = meta.artist, .album = meta.album, .track = meta.track});
    const int track = v1[126];
    return {.title = latin1(v1.begin() + 3, v1.begin() + 33),
            .artist = latin1(v1.begin() + 33, v1.begin() + 63),
            .album = latin1(v1.begin() + 63, v1.begin() + 93),
            .track = track == 0 ? "" : std::to_string(track)};
}

std::string_view number(std::string_view field) {
    return field.substr(0, field.find('/'));
}

}  // namespace

bool sameTrack(const FFmpegRunner& ffmpeg, const DeviceProfile& profile,
               const ConversionPlan::Item& item, const std::filesystem::path& cardFile,
               std::stop_token stop) {
    const std::optional<Probed> card = probe(ffmpeg, cardFile, stop);
    if (!card) return false;
    const SourceTags wanted = expected(profile, item.meta);
    if (!text::equivalent(text::trim(card->tags.title), text::trim(wanted.title)) ||
        !text::equivalent(text::trim(card->tags.artist), text::trim(wanted.artist)) ||
        !text::equivalent(text::trim(card->tags.album), text::trim(wanted.album)) ||
        number(card->tags.track) != number(wanted.track)) {
        return false;
    }
    const std::optional<Probed> source = probe(ffmpeg, item.source, stop);
    return source && std::abs(source->seconds - card->seconds) <= 1.0;
}

}  // namespace tarvik::CardTrackMatch
