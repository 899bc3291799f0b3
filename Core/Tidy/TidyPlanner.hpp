// Plans the library tidy: reads the tags of every audio file of the user's
// library, asks the catalogue album by album for the proper forms, and
// proposes for each file its corrected tags and a tidy place (artist folder,
// album folder, number and title), guarded against name clashes. A value
// that changes nothing on disk; plan() blocks the calling thread (tag reads
// run four at a time on threads of their own) and throws ConversionError
// when there is nothing to plan and Cancelled when its stop token fires.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "Core/Catalog/MusicCatalog.hpp"
#include "Core/Naming/SourceTags.hpp"
#include "Core/Naming/TrackMeta.hpp"
#include "Core/Pipeline/ConversionEvent.hpp"
#include "Core/Tidy/TidyPlan.hpp"

namespace tarvik {

struct TidyPlanner {
    // One file's raw tags, or nothing when they could not be read. Called
    // from several threads at once.
    using ReadTags =
        std::function<std::optional<SourceTags>(const std::filesystem::path&, std::stop_token)>;

    std::filesystem::path ffmpeg;
    std::filesystem::path root;
    // Artist folder names, or "artist/album"; the empty set selects everything.
    std::set<std::string> artists;
    std::shared_ptr<MusicCatalog> catalog;  // null: nothing is ever matched
    std::int64_t nameMax = 120;             // scalars per folder or file name
    ReadTags readTags = {};                 // empty: ffmpeg's tag probe

    static constexpr std::size_t readingWidth = 4;
    static constexpr std::size_t readingReportStep = 50;
    // Linux keeps at most this many bytes in one name.
    static constexpr std::size_t nameBytesMax = 255;

    // Events, all phases: scanning, reading after every 50th file, lookingUp
    // before each album. Throws ConversionError "対象の曲が見つかりません。"
    // when the selection holds no audio file.
    TidyPlan plan(const ProgressCallback& progress, std::stop_token stop) const;

    // The plan's targets, statuses and reasons made again from its stored
    // records, without reading a file or asking the catalogue; every item
    // is selected again. Items held because their file could not be read
    // stay held.
    TidyPlan replan(const TidyPlan& plan) const;

    // The plan of `files` (absolute paths) with their records as read, the
    // proposed records and the indices the catalogue matched. `held` names
    // files that must not be changed, with the reason. A file outside `root`
    // gets no item: a plan can't name it.
    TidyPlan planItem(const std::vector<std::filesystem::path>& files,
                      const std::vector<TrackMeta>& read, const std::vector<TrackMeta>& proposed,
                      const std::set<std::size_t>& matched,
                      const std::map<std::size_t, std::string>& held = {}) const;

    // artist folder / album folder / [disc-]number title.extension, each
    // name at most `nameMax` scalars and 255 bytes. A present folder name is
    // kept when it is the user's own grouping or differs only in separators.
    static std::string targetPath(const TrackMeta& meta, std::string_view extension,
                                  std::int64_t nameMax,
                                  const std::optional<std::string>& artistFolder = std::nullopt,
                                  const std::optional<std::string>& albumFolder = std::nullopt);

    // The file's path below `rootPath` (standardised, no trailing "/"), or
    // nothing when the file lies elsewhere.
    static std::optional<std::string> relativePath(const std::filesystem::path& file,
                                                   const std::string& rootPath);

    static std::string stripSeparators(std::string_view text, std::u32string_view separators);
};

}  // namespace tarvik
