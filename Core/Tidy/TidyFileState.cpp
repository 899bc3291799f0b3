#include "Core/Tidy/TidyFileState.hpp"

#include "Core/Convert/AudioFileProbe.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Text.hpp"

namespace tarvik::TidyFileState {

namespace fs = std::filesystem;

void rewrite(const fs::path& file, const TagFields::Values& values, const TagFields::Before& before,
             const std::optional<FileIdentity>& seen, const BeforeReplacing& beforeReplacing) {
    // An edit in place: the temporary is the file's own (see AtomicFileSink),
    // so a full disk names the song, and a song saved meanwhile by another
    // program is left as that program saved it.
    try {
        TagFields::patch(file, values, file, before, seen, beforeReplacing);
    } catch (const EmptyEdit&) {
        throw ConversionError("タグの書き換えに失敗しました");
    }
}

TagFields::Before before(const TidyJournalEntry& entry) {
    return {entry.sizeBefore, entry.placesOld, entry.tagAdded, entry.trailerOld, entry.addedAtom};
}

std::optional<TrackMeta> currentRecord(const fs::path& file,
                                       const std::shared_ptr<const FFmpegRunner>& runner,
                                       std::stop_token stop,
                                       const std::optional<fs::path>& planned) {
    const fs::path& named = planned ? *planned : file;
    if (runner) {
        const std::optional<SourceTags> tags = AudioFileProbe{runner}.tryReadTags(file, stop);
        if (!tags) return std::nullopt;
        return TrackMeta(*tags, named);
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
            named);
    } catch (const ConversionError&) {
        return std::nullopt;
    }
}

}  // namespace tarvik::TidyFileState
