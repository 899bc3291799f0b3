// What apply and undo share about one library file: the tag rewrite through
// a temporary file beside it, against the file as it was checked (its
// FileIdentity, whose size and change time the journal records), and the
// reading of its present tags. Internal to the tidy; any thread; failures
// throw ConversionError.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>

#include "Core/Convert/FFmpegRunner.hpp"
#include "Core/Convert/TagFields.hpp"
#include "Core/Naming/TrackMeta.hpp"
#include "Core/Platform/FileStreams.hpp"
#include "Core/Tidy/TidyJournal.hpp"

namespace tarvik::TidyFileState {

// Writes the fields into a hidden temporary beside the file, which then
// takes the file's place with its owner, group, mode and extended
// attributes, but only while the file is still the one `seen` when it was
// checked (by default, the one read), unchanged: else FileChangedMeanwhile,
// and the file is kept. An empty result is refused ("タグの書き換えに失敗し
// ました") and the file kept. Other messages name the file. `before` and
// `beforeReplacing`: see TagFields::patch.
void rewrite(const std::filesystem::path& file, const TagFields::Values& values,
             const TagFields::Before& before = {},
             const std::optional<FileIdentity>& seen = std::nullopt,
             const BeforeReplacing& beforeReplacing = {});

// What the entry knew of its file before the change, for the rewrite that
// gives the old fields back.
TagFields::Before before(const TidyJournalEntry& entry);

// The file's record as the planner reads it: through ffmpeg's tag probe
// when there is a runner, else from the file's own tags; what the tags lack
// is guessed from `planned`, the path the planner saw (a folder renamed
// since changes no guess), by default the file's own. Nothing when the
// tags can't be read.
std::optional<TrackMeta> currentRecord(const std::filesystem::path& file,
                                       const std::shared_ptr<const FFmpegRunner>& runner,
                                       std::stop_token stop,
                                       const std::optional<std::filesystem::path>& planned = {});

}  // namespace tarvik::TidyFileState
