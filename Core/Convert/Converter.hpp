// Turns one source audio file into one finished file on the card, as the
// device profile prescribes: MP3 with the ID3 tags written here, or AAC in an
// M4A container with MP4 tags and cover written by ffmpeg. One converter
// serves a whole export run and is called from many worker threads at once;
// it shares only the chosen AAC encoder between them and never holds its lock
// while ffmpeg runs. Every failure is thrown (ConversionError, FFmpegError,
// PosixFS::NoSpace, Cancelled); the destination is then left as it was, and
// the conversion's private temporary folder is removed on every way out.
#pragma once

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Convert/FFmpegRunner.hpp"
#include "Core/Convert/ID3Writer.hpp"
#include "Core/Naming/PosixFS.hpp"
#include "Core/Naming/TrackMeta.hpp"
#include "Core/Platform/Bytes.hpp"
#include "Core/Profiles/DeviceProfile.hpp"

namespace tarvik {

class Converter {
public:
    // Everything one conversion needs; the converter names, scales and
    // decides nothing of its own.
    struct Job {
        std::filesystem::path source;
        std::filesystem::path destination;  // final path on the card, extension included
        TrackMeta meta;
        std::optional<Bytes> artworkJPEG = std::nullopt;      // already scaled
        std::optional<double> loudnessTarget = std::nullopt;  // LUFS; absent: no levelling
        // The folder the user chose, when `destination` lies below it: only
        // the levels below it are matched and made, none through a link,
        // and nothing is written once it is gone.
        std::optional<PosixFS::Root> root = std::nullopt;
        // Where the file comes from, as it carries it (AlbumIdentity): its
        // album (empty: that of `meta`) and its song (empty: none).
        std::string albumIdentity = {};
        std::string trackIdentity = {};

        bool operator==(const Job&) const = default;
    };

    // The blank-source message; the user can do nothing but record again.
    static constexpr std::string_view blankSourceMessage =
        "元のファイルが壊れています（中身が空）。この曲は録音し直してください";
    // Followed by the source's file name: its audio decoded to nothing.
    static constexpr std::string_view noAudioMessage = "音声が入っていません: ";
    // Each conversion works in <temporary directory>/tarvik-<UUID>.
    static constexpr std::string_view temporaryFolderPrefix = "tarvik-";

    Converter(std::shared_ptr<const FFmpegRunner> runner, DeviceProfile profile);

    // Writes the finished file to job.destination (making its folders,
    // replacing a file there) through a hidden temporary name. Throws
    // ConversionError for a blank or unreadable source, for one whose audio
    // decodes to nothing and for file errors,
    // FFmpegError when ffmpeg fails, PosixFS::NoSpace when the card is full and
    // Cancelled when `stop` ends it early.
    void convert(const Job& job, std::stop_token stop);

    // The AAC encoder: the platform's own when a probe run shows that ffmpeg
    // has it, else ffmpeg's built-in "aac". Probed once per converter; calls
    // that start before the first probe has ended probe as well.
    std::string aacEncoderName(std::stop_token stop);

    // Removes the temporary folders of conversions whose process no longer
    // lives (killed, crashed); the constructor calls it, so each run cleans
    // up after the last. Folders changed within abandonedAfter are left.
    static void removeAbandonedFolders() noexcept;
    static constexpr std::chrono::seconds abandonedAfter{60};

    // True when the first 4096 bytes of the file are all zero (an empty file
    // included). Throws ConversionError "読み込めません: " + name + "（reason）"
    // when the file can't be opened or read, or is no regular file (a pipe
    // is refused without waiting): that is no blank recording.
    static bool isBlankFile(const std::filesystem::path& file);

    // The ID3 writer of a profile's tag settings: the one MP3 files are
    // tagged with.
    static ID3Writer id3Writer(const DeviceProfile::Tags& tags);

    // Appends "-metadata" and key=value, unless the value is empty.
    static void metadataArguments(std::vector<std::string>& arguments, std::string_view key,
                                  std::string_view value);

private:
    void convertMP3(const Job& job, const std::filesystem::path& folder, const std::string& filter,
                    std::stop_token stop);
    void convertAAC(const Job& job, const std::filesystem::path& folder, const std::string& filter,
                    std::stop_token stop);
    // Puts the finished file `out` at the job's destination.
    static void place(const std::filesystem::path& out, const Job& job,
                      const std::stop_token& stop);

    const std::shared_ptr<const FFmpegRunner> runner_;
    const DeviceProfile profile_;

    std::mutex mutex_;  // guards aacEncoder_
    std::optional<std::string> aacEncoder_;
};

}  // namespace tarvik
