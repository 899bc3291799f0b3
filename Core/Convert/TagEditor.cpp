#include "Core/Convert/TagEditor.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "Core/Convert/FLACComments.hpp"
#include "Core/Platform/AtomicFile.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/Uuid.hpp"
#include "Core/Platform/WholeFile.hpp"

namespace tarvik::TagEditor {
namespace {

std::string extensionOf(const std::filesystem::path& file) {
    std::string extension = file.extension().string();
    if (!extension.empty()) extension.erase(0, 1);  // the dot
    return text::lower(extension);
}

[[noreturn]] void cannotWrite(const std::filesystem::path& destination, int errorNumber) {
    throw ConversionError(
        fileSystemMessage("書き込めません: ", destination.filename().string(), errorNumber));
}

// Removes ffmpeg's output file unless it was moved into place.
class TemporaryOutput {
public:
    explicit TemporaryOutput(const std::filesystem::path& destination)
        : path_(destination.parent_path() / (".tarvik-" + makeUuid() + ".part")) {}
    ~TemporaryOutput() {
        if (!placed_) ::unlink(path_.c_str());
    }
    TemporaryOutput(const TemporaryOutput&) = delete;
    TemporaryOutput& operator=(const TemporaryOutput&) = delete;

    const std::filesystem::path& path() const { return path_; }

    void place(const std::filesystem::path& destination) {
        int descriptor = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0) cannotWrite(destination, errno);
        int failure = ::fsync(descriptor) == 0 ? 0 : errno;
        ::close(descriptor);
        if (failure == 0 && ::rename(path_.c_str(), destination.c_str()) != 0) failure = errno;
        if (failure != 0) cannotWrite(destination, failure);
        placed_ = true;
    }

private:
    std::filesystem::path path_;
    bool placed_ = false;
};

}  // namespace

bool canEdit(const std::filesystem::path& file) {
    const std::string extension = extensionOf(file);
    return std::find(editableExtensions.begin(), editableExtensions.end(), extension) !=
           editableExtensions.end();
}

void write(const std::filesystem::path& source, const TrackMeta& meta,
           const std::filesystem::path& destination, const FFmpegRunner* runner,
           std::stop_token stop) {
    const std::string extension = extensionOf(source);
    if (extension == "mp3") {
        writeID3(source, meta, destination);
    } else if (extension == "flac") {
        writeFLAC(source, meta, destination);
    } else if (extension == "m4a") {
        if (runner == nullptr) throw ConversionError("m4a のタグ書き換えには ffmpeg が必要です");
        writeM4A(source, meta, destination, *runner, std::move(stop));
    } else {
        throw ConversionError("この形式のタグは書き換えられません: " + source.filename().string());
    }
}

void writeFLAC(const std::filesystem::path& source, const TrackMeta& meta,
               const std::filesystem::path& destination) {
    Bytes result = FLACComments::rewrite(readWholeFile(source), meta, source.filename().string());
    writeFileAtomically(destination, asText(result));
}

void writeM4A(const std::filesystem::path& source, const TrackMeta& meta,
              const std::filesystem::path& destination, const FFmpegRunner& runner,
              std::stop_token stop) {
    std::error_code error;
    std::filesystem::path folder = destination.parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, error);
    if (error) {
        throw ConversionError(
            fileSystemMessage("フォルダを作れません: ", folder.string(), error.value()));
    }

    // ffmpeg truncates its output before it knows whether it will succeed;
    // writing beside the destination keeps a failed or stopped run from
    // leaving half a file there.
    TemporaryOutput output(destination);
    std::vector<std::string> arguments = {"-y",   "-loglevel", "error",    "-i",   source.string(),
                                          "-map", "0",         "-c",       "copy", "-map_metadata",
                                          "0",    "-fflags",   "+bitexact"};
    const std::pair<std::string_view, const std::string&> fields[] = {
        {"title", meta.title}, {"artist", meta.artist},
        {"album", meta.album}, {"album_artist", meta.albumArtist},
        {"track", meta.track}, {"disc", meta.disc},
        {"date", meta.date},   {"genre", meta.genre},
    };
    // Every key goes out, empty ones too: "genre=" clears the old genre.
    for (const auto& [key, value] : fields) {
        arguments.push_back("-metadata");
        arguments.push_back(std::string(key) + "=" + value);
    }
    arguments.insert(arguments.end(), {"-f", "ipod", output.path().string()});

    FFmpegRunner::Output result = runner.runRaw(arguments, std::nullopt, stop);
    if (result.exitCode != 0) {
        if (stop.stop_requested()) throw Cancelled();
        throw FFmpegError(result.exitCode, std::move(result.stderr));
    }
    output.place(destination);
}

}  // namespace tarvik::TagEditor
