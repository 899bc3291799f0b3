#include "Core/Convert/Converter.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <initializer_list>
#include <system_error>
#include <utility>

#include "Core/Convert/AlbumIdentity.hpp"
#include "Core/Convert/EncodedAudio.hpp"
#include "Core/Convert/ID3Writer.hpp"
#include "Core/Convert/LoudnessAnalyzer.hpp"
#include "Core/Convert/TemporaryFolder.hpp"
#include "Core/Naming/PosixFS.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/WholeFile.hpp"

namespace tarvik {
namespace {

constexpr std::size_t blankTestLength = 4096;

std::string albumIdentity(const Converter::Job& job) {
    return job.albumIdentity.empty() ? AlbumIdentity::of(job.meta) : job.albumIdentity;
}

// The user's temporary directory, made when it is missing.
std::filesystem::path temporaryRoot() {
    const char* configured = ::getenv("TMPDIR");
    const std::string given = configured != nullptr && *configured != '\0' ? configured : "/tmp";
    std::error_code error;
    const std::filesystem::path root = std::filesystem::absolute(given, error);
    if (error) {
        throw ConversionError(fileSystemMessage("フォルダを作れません: ", given, error.value()));
    }
    std::filesystem::create_directories(root, error);  // mkdir below reports a failure
    return root;
}

// Writes the parts one after the other into a new file; a plain write, since
// the file is only a stage on the way to the card.
void writeParts(const std::filesystem::path& path, std::initializer_list<const Bytes*> parts) {
    int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int failure = descriptor < 0 ? errno : 0;
    for (const Bytes* part : parts) {
        const std::uint8_t* data = part->data();
        std::size_t left = part->size();
        while (failure == 0 && left > 0) {
            ssize_t written = ::write(descriptor, data, left);
            if (written < 0) {
                if (errno != EINTR) failure = errno;
                continue;
            }
            data += written;
            left -= static_cast<std::size_t>(written);
        }
    }
    if (descriptor >= 0 && ::close(descriptor) != 0 && failure == 0) failure = errno;
    if (failure != 0) {
        throw ConversionError(
            fileSystemMessage("書き込めません: ", path.filename().string(), failure));
    }
}

}  // namespace

ID3Writer Converter::id3Writer(const DeviceProfile::Tags& tags) {
    using Format = DeviceProfile::Tags::Format;
    using Encoding = DeviceProfile::Tags::Encoding;
    ID3Writer writer;
    writer.version =
        tags.format == Format::id3v2_4 ? ID3Writer::Version::v2_4 : ID3Writer::Version::v2_3;
    switch (tags.encoding) {
        case Encoding::utf16:
            writer.preferredEncoding = ID3Writer::TextEncoding::utf16;
            break;
        case Encoding::utf8:
            writer.preferredEncoding = ID3Writer::TextEncoding::utf8;
            break;
        case Encoding::latin1:
            writer.preferredEncoding = ID3Writer::TextEncoding::latin1;
            break;
        case Encoding::shiftJIS:
            writer.preferredEncoding = ID3Writer::TextEncoding::shiftJIS;
            break;
    }
    writer.writeV1 = tags.id3v1 || tags.format == Format::id3v1;
    writer.writeV2 = tags.format != Format::id3v1;
    return writer;
}

namespace {

std::string kilobits(std::int64_t bitrate) {
    return std::to_string(bitrate) + "k";
}

// An absolute path keeps a source such as "a:b.flac" from reading as a protocol.
std::string inputPath(const std::filesystem::path& path) {
    return std::filesystem::absolute(path).string();
}

void checkExit(FFmpegRunner::Output& output, const std::stop_token& stop) {
    // A child stopped on cancellation exits with an error of its own; the
    // cancellation is what happened.
    if (stop.stop_requested()) throw Cancelled();
    if (output.exitCode != 0) throw FFmpegError(output.exitCode, std::move(output.stderr));
}

// ffmpeg succeeds on a source whose audio decodes to nothing and writes a
// file of headers and tags: such a file must never reach the card as a song.
void checkHasAudio(bool hasAudio, const std::filesystem::path& source) {
    if (!hasAudio) {
        throw ConversionError(std::string(Converter::noAudioMessage) + source.filename().string());
    }
}

// Only the folders conversions make: the prefix and a UUID. Other programs'
// folders, and the tests' own "tarvik-test-…", may sit unchanged for longer
// than a minute while in use, and must never be swept.
bool isConversionFolderName(std::string_view name) {
    if (!name.starts_with(Converter::temporaryFolderPrefix)) return false;
    const std::string_view id = name.substr(Converter::temporaryFolderPrefix.size());
    if (id.size() != 36) return false;
    for (std::size_t i = 0; i < id.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? id[i] != '-' : !std::isxdigit(static_cast<unsigned char>(id[i]))) return false;
    }
    return true;
}

}  // namespace

Converter::Converter(std::shared_ptr<const FFmpegRunner> runner, DeviceProfile profile)
    : runner_(std::move(runner)), profile_(std::move(profile)) {
    removeAbandonedFolders();
}

void Converter::removeAbandonedFolders() noexcept {
    try {
        std::error_code error;
        const std::filesystem::path root = temporaryRoot();
        const auto now = std::filesystem::file_time_type::clock::now();
        for (std::filesystem::directory_iterator it(root, error), end; !error && it != end;
             it.increment(error)) {
            const std::filesystem::path folder = it->path();
            if (!isConversionFolderName(folder.filename().string())) continue;
            // Not the moment between another conversion's mkdir and its lock.
            const auto changed = std::filesystem::last_write_time(folder, error);
            if (error || now - changed < abandonedAfter) {
                error.clear();
                continue;
            }
            const int descriptor =
                ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (descriptor < 0) continue;
            struct stat info {};
            // Only our own folders, and only when no living process holds the lock.
            if (::fstat(descriptor, &info) == 0 && info.st_uid == ::getuid() &&
                ::flock(descriptor, LOCK_EX | LOCK_NB) == 0) {
                std::error_code ignored;
                std::filesystem::remove_all(folder, ignored);
            }
            ::close(descriptor);
        }
    } catch (...) {
        // A folder left behind costs only disk space; the run goes on.
    }
}

void Converter::convert(const Job& job, std::stop_token stop) {
    if (isBlankFile(job.source)) throw ConversionError(std::string(blankSourceMessage));
    if (stop.stop_requested()) throw Cancelled();
    TemporaryFolder folder(temporaryRoot(), temporaryFolderPrefix);

    std::string filter = "anull";
    if (job.loudnessTarget) {
        LoudnessAnalyzer analyzer{runner_};
        filter =
            LoudnessAnalyzer::gainFilter(analyzer.measure(job.source, stop), *job.loudnessTarget);
    }
    switch (profile_.audio.codec) {
        case DeviceProfile::Audio::Codec::mp3:
            convertMP3(job, folder.path(), filter, stop);
            break;
        case DeviceProfile::Audio::Codec::aac:
            convertAAC(job, folder.path(), filter, stop);
            break;
    }
}

void Converter::convertMP3(const Job& job, const std::filesystem::path& folder,
                           const std::string& filter, std::stop_token stop) {
    const std::filesystem::path raw = folder / "raw.part";
    const std::filesystem::path out = folder / "out.part";
    // A bare stream with its Xing header and no tag of its own, without the
    // source's metadata or encoder version strings: the tag is ours.
    // clang-format off
    const std::vector<std::string> arguments = {
        "-loglevel", "error", "-y",
        "-i", inputPath(job.source),
        "-map", "0:a:0", "-map_metadata", "-1", "-map_chapters", "-1", "-vn",
        "-af", filter,
        "-ar", std::to_string(profile_.audio.sampleRate), "-ac", "2",
        "-fflags", "+bitexact",
        "-codec:a", "libmp3lame", "-b:a", kilobits(profile_.audio.bitrate),
        "-write_xing", "1", "-id3v2_version", "0",
        "-f", "mp3", raw.string()};
    // clang-format on
    FFmpegRunner::Output output = runner_->runRaw(arguments, std::nullopt, stop);
    checkExit(output, stop);

    const ID3Writer::Tags tags{
        .title = job.meta.title,
        .artist = job.meta.artist,
        .album = job.meta.album,
        .albumArtist = job.meta.albumArtist,
        .track = job.meta.track,
        .disc = job.meta.disc,
        .year = job.meta.date,
        .genre = job.meta.genre,
        .artworkJPEG = profile_.tags.artwork.enabled ? job.artworkJPEG : std::nullopt,
        .albumIdentity = albumIdentity(job),
        .trackIdentity = job.trackIdentity,
    };
    const ID3Writer writer = id3Writer(profile_.tags);
    const Bytes audio = readWholeFile(raw);
    checkHasAudio(EncodedAudio::mp3HasFrames(audio), job.source);
    const Bytes head =
        writer.writeV2 ? writer.encodeV2(tags, static_cast<std::int64_t>(audio.size())) : Bytes{};
    const Bytes trailer = writer.encodeV1(tags);
    writeParts(out, {&head, &audio, &trailer});

    if (stop.stop_requested()) throw Cancelled();
    place(out, job, stop);
}

void Converter::convertAAC(const Job& job, const std::filesystem::path& folder,
                           const std::string& filter, std::stop_token stop) {
    const std::string encoder = aacEncoderName(stop);
    const std::filesystem::path art = folder / "art.jpg";
    const std::filesystem::path out = folder / "out.part";
    const bool withPicture = profile_.tags.artwork.enabled && job.artworkJPEG.has_value();
    if (withPicture) writeParts(art, {&*job.artworkJPEG});

    std::vector<std::string> arguments = {"-loglevel", "error", "-y", "-i", inputPath(job.source)};
    if (withPicture) arguments.insert(arguments.end(), {"-i", art.string()});
    arguments.insert(arguments.end(),
                     {"-map", "0:a:0", "-map_metadata", "-1", "-map_chapters", "-1", "-af", filter,
                      "-ar", std::to_string(profile_.audio.sampleRate), "-ac", "2", "-fflags",
                      "+bitexact", "-codec:a", encoder, "-b:a", kilobits(profile_.audio.bitrate)});
    if (withPicture) {
        arguments.insert(arguments.end(),
                         {"-map", "1:v:0", "-c:v", "mjpeg", "-disposition:v", "attached_pic"});
    } else {
        arguments.push_back("-vn");
    }
    metadataArguments(arguments, "title", job.meta.title);
    metadataArguments(arguments, "artist", job.meta.artist);
    metadataArguments(arguments, "album", job.meta.album);
    metadataArguments(arguments, "album_artist", job.meta.albumArtist);
    metadataArguments(arguments, "track", job.meta.track);
    metadataArguments(arguments, "disc", job.meta.disc);
    metadataArguments(arguments, "date", job.meta.date);
    metadataArguments(arguments, "genre", job.meta.genre);
    arguments.insert(arguments.end(), {"-movflags", "+faststart", "-f", "ipod", out.string()});

    FFmpegRunner::Output output = runner_->runRaw(arguments, std::nullopt, stop);
    checkExit(output, stop);
    checkHasAudio(EncodedAudio::m4aHasFrames(out), job.source);
    // ffmpeg writes no freeform items; the album's own goes in before the
    // file leaves the temporary folder.
    AlbumIdentity::writeM4A(out, albumIdentity(job), job.trackIdentity);
    place(out, job, stop);
}

void Converter::place(const std::filesystem::path& out, const Job& job,
                      const std::stop_token& stop) {
    if (job.root) {
        // A stop lets the copy under way end whole within its grace, or
        // takes it away: a quit never leaves half a song on the card.
        PosixFS::copy(out, *job.root, job.destination, stop);
    } else {
        PosixFS::copy(out, job.destination);
    }
}

std::string Converter::aacEncoderName(std::stop_token stop) {
    {
        std::lock_guard lock(mutex_);
        if (aacEncoder_) return *aacEncoder_;
    }
    // One second of generated silence through the platform's encoder; the
    // lock is not held while it runs, so concurrent first calls each probe.
    FFmpegRunner::Output output = runner_->runRaw(
        {"-loglevel", "error", "-f", "lavfi", "-i", "anullsrc=r=44100:cl=stereo", "-t", "1",
         "-codec:a", "aac_at", "-b:a", kilobits(profile_.audio.bitrate), "-f", "null", "-"},
        std::nullopt, stop);
    // A probe stopped on cancellation says nothing about the encoder: keep no choice.
    if (stop.stop_requested()) throw Cancelled();
    std::string chosen = output.exitCode == 0 ? "aac_at" : "aac";
    std::lock_guard lock(mutex_);
    aacEncoder_ = chosen;
    return chosen;
}

bool Converter::isBlankFile(const std::filesystem::path& file) {
    // Non-blocking, so that a pipe put in place of the source is refused
    // instead of holding the run in open().
    int descriptor = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        throw ConversionError(
            fileSystemMessage("読み込めません: ", file.filename().string(), errno));
    }
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(descriptor);
        throw ConversionError(notAFileMessage(file));
    }
    std::array<std::uint8_t, blankTestLength> start{};
    std::size_t filled = 0;
    int failure = 0;
    while (filled < start.size()) {
        ssize_t got = ::read(descriptor, start.data() + filled, start.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) failure = errno;
        if (got <= 0) break;
        filled += static_cast<std::size_t>(got);
    }
    ::close(descriptor);
    // A read error (a folder, a failing disk) is no blank recording either.
    if (failure != 0) {
        throw ConversionError(
            fileSystemMessage("読み込めません: ", file.filename().string(), failure));
    }
    return std::all_of(start.begin(), start.begin() + static_cast<std::ptrdiff_t>(filled),
                       [](std::uint8_t byte) { return byte == 0; });
}

void Converter::metadataArguments(std::vector<std::string>& arguments, std::string_view key,
                                  std::string_view value) {
    if (value.empty()) return;
    arguments.push_back("-metadata");
    arguments.push_back(std::string(key) + "=" + std::string(value));
}

}  // namespace tarvik
