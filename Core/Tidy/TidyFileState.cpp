#include "Core/Tidy/TidyFileState.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "Core/Convert/AudioFileProbe.hpp"
#include "Core/Naming/PosixFS.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"
#include "Core/Platform/Uuid.hpp"

namespace tarvik::TidyFileState {
namespace {

namespace fs = std::filesystem;

}  // namespace

void syncFolder(const fs::path& folder) {
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return;
    ::fsync(descriptor);
    ::close(descriptor);
}

std::optional<Facts> factsOf(const fs::path& file) {
    struct stat facts {};
    if (::lstat(file.c_str(), &facts) != 0 || !S_ISREG(facts.st_mode)) return std::nullopt;
    return Facts{
        static_cast<std::uint64_t>(facts.st_size),
        static_cast<std::int64_t>(facts.st_mtim.tv_sec) * 1'000'000'000 + facts.st_mtim.tv_nsec};
}

void rewrite(const fs::path& file, const TagFields::Values& values,
             std::optional<std::uint64_t> size) {
    // Not named after the file: its name may fill the system's limit already.
    const fs::path temporary = file.parent_path() / (".tarvik-tmp-" + makeUuid());
    PosixFS::remove(temporary);
    TagFields::patch(file, values, temporary, size);
    struct stat original {
    }, written{};
    if (::lstat(temporary.c_str(), &written) != 0 || written.st_size < 1 ||
        ::lstat(file.c_str(), &original) != 0) {
        PosixFS::remove(temporary);
        throw ConversionError("タグの書き換えに失敗しました");
    }
    // The replacement is a new file: it takes over the old one's permissions.
    if (::chmod(temporary.c_str(), original.st_mode & 07777) != 0 ||
        ::rename(temporary.c_str(), file.c_str()) != 0) {
        const int error = errno;
        PosixFS::remove(temporary);
        throw ConversionError(
            fileSystemMessage("書き込めません: ", file.filename().string(), error));
    }
    syncFolder(file.parent_path());
}

std::optional<TrackMeta> currentRecord(const fs::path& file,
                                       const std::shared_ptr<const FFmpegRunner>& runner,
                                       std::stop_token stop) {
    if (runner) {
        const std::optional<SourceTags> tags = AudioFileProbe{runner}.tryReadTags(file, stop);
        if (!tags) return std::nullopt;
        return TrackMeta(*tags, file);
    }
    try {
        const TagFields::Values raw = TagFields::read(file);
        auto value = [&](TagFields::Field field) {
            // Several values read as ffmpeg joins them.
            return text::replacing(raw.at(field).value_or(""), std::string(1, '\0'), ";");
        };
        using F = TagFields::Field;
        return TrackMeta(
            SourceTags{value(F::title), value(F::artist), value(F::albumArtist), value(F::album),
                       value(F::track), value(F::disc), value(F::date), value(F::genre)},
            file);
    } catch (const ConversionError&) {
        return std::nullopt;
    }
}

}  // namespace tarvik::TidyFileState
