#include "Core/Pipeline/CardTrackMatch.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>
#include <utility>
#include <vector>

#include "Core/Convert/ID3Writer.hpp"
#include "Core/Naming/FFMetadataParser.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/TextEncoding.hpp"

namespace tarvik::CardTrackMatch {
namespace {

using Form = CardFile::Form;
using Encoding = ID3Writer::TextEncoding;

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

// Up to `length` bytes at `offset`.
Bytes readAt(int descriptor, off_t offset, std::size_t length) {
    Bytes bytes(length);
    const ssize_t got = ::pread(descriptor, bytes.data(), length, offset);
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
}

// The tag form from the file's bytes: an ID3v2 tag in front, an MP4 file
// type box, else an ID3v1 trailer at the end, which comes along.
std::pair<Form, Bytes> formOf(const std::filesystem::path& file) {
    const int descriptor = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return {Form::id3v2, {}};
    struct stat info {};
    std::pair<Form, Bytes> form{Form::id3v2, {}};
    const Bytes head = readAt(descriptor, 0, 10);
    if (head.size() >= 3 && head[0] == 'I' && head[1] == 'D' && head[2] == '3') {
        form.first = Form::id3v2;
    } else if (head.size() >= 8 && std::equal(head.begin() + 4, head.begin() + 8, "ftyp")) {
        form.first = Form::mp4;
    } else if (::fstat(descriptor, &info) == 0 && info.st_size >= 128) {
        Bytes trailer = readAt(descriptor, info.st_size - 128, 128);
        if (trailer.size() == 128 && std::equal(trailer.begin(), trailer.begin() + 3, "TAG")) {
            form = {Form::id3v1, std::move(trailer)};
        }
    }
    ::close(descriptor);
    return form;
}

// Bytes under the ISO-8859-1 code as ffmpeg reads them: one character a byte,
// trailing zeros and spaces dropped.
std::string latin1(Bytes::const_iterator begin, Bytes::const_iterator end) {
    std::u32string scalars(begin, end);
    while (!scalars.empty() && (scalars.back() == 0 || scalars.back() == U' ')) scalars.pop_back();
    return text::fromScalars(scalars);
}

// A text as ffmpeg reads it back from a frame a Shift-JIS profile wrote: the
// CP932 bytes under the ISO-8859-1 code, one character a byte.
std::string shiftJISAsRead(std::string_view text) {
    if (text.empty()) return {};
    const Bytes frame =
        ID3Writer{ID3Writer::Version::v2_3, Encoding::shiftJIS}.textFrame("TIT2", text);
    if (frame.size() < 12 || frame[10] != 0x00) return std::string(text);
    return latin1(frame.begin() + 11, frame.end());
}

bool same(std::string_view onCard, std::string_view wanted) {
    return text::equivalent(text::trim(onCard), text::trim(wanted));
}

// A whole text, as any ID3v2 or MP4 profile wrote it: in Unicode, or in
// Shift-JIS bytes that read back one character a byte.
bool sameText(std::string_view onCard, std::string_view wanted) {
    return same(onCard, wanted) || same(onCard, shiftJISAsRead(wanted));
}

std::string_view number(std::string_view field) {
    return field.substr(0, field.find('/'));
}

// A field of the ID3v1 trailer without the zeros or spaces that fill it.
Bytes field(const Bytes& trailer, std::size_t at, std::size_t width) {
    std::size_t end = at + width;
    while (end > at && (trailer[end - 1] == 0 || trailer[end - 1] == ' ')) --end;
    return Bytes(trailer.begin() + static_cast<std::ptrdiff_t>(at),
                 trailer.begin() + static_cast<std::ptrdiff_t>(end));
}

// The ID3v1 trailer as either of its encodings writes the record: 30-byte
// fields and a track byte, the album artist nowhere.
bool sameV1(const Bytes& trailer, const TrackMeta& meta) {
    for (const Encoding encoding : {Encoding::shiftJIS, Encoding::latin1}) {
        const ID3Writer writer{ID3Writer::Version::v2_3, encoding, true, false};
        const Bytes wanted = writer.encodeV1(
            {.title = meta.title, .artist = meta.artist, .album = meta.album, .track = meta.track});
        if (field(trailer, 3, 30) == field(wanted, 3, 30) &&
            field(trailer, 33, 30) == field(wanted, 33, 30) &&
            field(trailer, 63, 30) == field(wanted, 63, 30) && trailer[126] == wanted[126]) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<CardFile> readCard(const FFmpegRunner& ffmpeg, const std::filesystem::path& file,
                                 std::stop_token stop) {
    const std::optional<Probed> probed = probe(ffmpeg, file, std::move(stop));
    if (!probed) return std::nullopt;
    auto [form, trailer] = formOf(file);
    return CardFile{form, probed->tags, std::move(trailer), probed->seconds};
}

bool sameTags(const CardFile& card, const TrackMeta& meta) {
    if (card.form == Form::id3v1) return sameV1(card.trailer, meta);
    return sameText(card.tags.title, meta.title) && sameText(card.tags.artist, meta.artist) &&
           sameText(card.tags.album, meta.album) &&
           sameText(card.tags.albumArtist, meta.albumArtist) &&
           number(card.tags.track) == number(meta.track);
}

bool sameTrack(const FFmpegRunner& ffmpeg, const ConversionPlan::Item& item,
               const std::filesystem::path& cardFile, std::stop_token stop) {
    // The caller's runner, borrowed for this one question.
    const std::shared_ptr<const FFmpegRunner> borrowed(&ffmpeg, [](const FFmpegRunner*) {});
    return Matcher(borrowed, std::move(stop)).sameTrack(item, cardFile);
}

Matcher::Matcher(std::shared_ptr<const FFmpegRunner> ffmpeg, std::stop_token stop)
    : ffmpeg_(std::move(ffmpeg)), stop_(std::move(stop)) {}

bool Matcher::sameTrack(const ConversionPlan::Item& item, const std::filesystem::path& cardFile) {
    auto known = cards_.find(cardFile.native());
    if (known == cards_.end()) {
        known = cards_.emplace(cardFile.native(), readCard(*ffmpeg_, cardFile, stop_)).first;
    }
    if (!known->second || !sameTags(*known->second, item.meta)) return false;
    auto source = sources_.find(item.source.native());
    if (source == sources_.end()) {
        const std::optional<Probed> probed = probe(*ffmpeg_, item.source, stop_);
        source = sources_
                     .emplace(item.source.native(),
                              probed ? std::optional(probed->seconds) : std::nullopt)
                     .first;
    }
    return source->second && std::abs(*source->second - known->second->seconds) <= 1.0;
}

}  // namespace tarvik::CardTrackMatch
