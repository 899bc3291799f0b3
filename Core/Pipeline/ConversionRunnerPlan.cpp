#include <cstdint>
#include <tuple>
#include <utility>

#include "Core/Catalog/TitleFixer.hpp"
#include "Core/Pipeline/ConversionRunner.hpp"
#include "Core/Pipeline/LibraryScanner.hpp"
#include "Core/Pipeline/Planner.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Profiles/ProfileValidator.hpp"

namespace tarvik {
namespace {

const char* const nothingSelected =
    "対象の曲が見つかりません。アーティストの選択を確認してください。";

// A lookup counts as a change only when some field differs byte for byte.
bool identical(const TrackMeta& a, const TrackMeta& b) {
    return std::tie(a.title, a.artist, a.albumArtist, a.album, a.track, a.disc, a.date, a.genre) ==
           std::tie(b.title, b.artist, b.albumArtist, b.album, b.track, b.disc, b.date, b.genre);
}

void throwIfStopped(const std::stop_token& stop) {
    if (stop.stop_requested()) throw Cancelled();
}

// The pass's working state and steps, one object per call.
class Pass {
public:
    Pass(const ConversionRunner& runner, const ProgressCallback& progress, std::stop_token stop)
        : runner_(runner), progress_(progress), stop_(std::move(stop)) {}

    ConversionPlan run() {
        auto ffmpeg = std::make_shared<const FFmpegRunner>(runner_.ffmpeg);
        report(ConversionEvent::scanning());
        const std::vector<std::filesystem::path> files =
            LibraryScanner{runner_.source}.audioFiles(runner_.artists, stop_);
        throwIfStopped(stop_);
        if (files.empty()) throw ConversionError(nothingSelected);

        std::vector<TrackMeta> metas =
            ConversionRunner::readTags(files, std::move(ffmpeg), progress_, stop_);
        throwIfStopped(stop_);
        report(ConversionEvent::planning());

        for (TrackMeta& meta : metas) meta = runner_.options.aliases.apply(meta);
        for (auto& [position, meta] : Planner::unifyAlbumArtists(files, metas)) {
            metas[position] = std::move(meta);
        }
        std::vector<Planner::Track> tracks;
        tracks.reserve(files.size());
        for (std::size_t i = 0; i < files.size(); ++i) tracks.push_back({files[i], metas[i]});

        const Planner planner{runner_.profile};
        const ConversionPlan firstPass = planner.plan(tracks);

        Planner::Corrections corrections;
        if (runner_.catalog) lookUpTitles(firstPass, corrections);
        evenOutAgain(firstPass, corrections);
        throwIfStopped(stop_);
        if (corrections.empty()) return firstPass;
        return planner.planFinal(firstPass, corrections);
    }

private:
    void report(const ConversionEvent& event) const {
        if (progress_) progress_(event);
    }

    void lookUpTitles(const ConversionPlan& firstPass, Planner::Corrections& corrections) const {
        const std::size_t albumCount = firstPass.albums.size();
        // Positions of each album's items, in plan order.
        std::vector<std::vector<std::size_t>> albumItems(albumCount);
        for (std::size_t p = 0; p < firstPass.items.size(); ++p) {
            const auto index = static_cast<std::size_t>(firstPass.items[p].albumIndex);
            if (index < albumCount) albumItems[index].push_back(p);
        }

        for (std::size_t k = 0; k < albumCount; ++k) {
            throwIfStopped(stop_);
            const AlbumKey& album = firstPass.albums[k];
            report(ConversionEvent::lookingUp(static_cast<std::int64_t>(k + 1),
                                              static_cast<std::int64_t>(albumCount),
                                              album.albumArtist + " / " + album.album));
            std::vector<TrackMeta> metas;
            metas.reserve(albumItems[k].size());
            for (std::size_t p : albumItems[k]) metas.push_back(firstPass.items[p].meta);
            TitleFixer::Outcome outcome = TitleFixer::fix(metas, *runner_.catalog, stop_);
            // A stopped catalogue answers nothing, so what came back may be
            // half an answer: report none of it.
            throwIfStopped(stop_);

            for (std::size_t j = 0; j < albumItems[k].size() && j < outcome.metas.size(); ++j) {
                const TrackMeta& before = metas[j];
                TrackMeta after = runner_.options.aliases.apply(outcome.metas[j]);
                if (identical(after, before)) continue;
                corrections[albumItems[k][j]] = after;
                report(ConversionEvent::renamed(before, std::move(after)));
            }
        }
    }

    // Corrected album artists may disagree within a folder again; even them
    // out quietly, on top of what the lookup changed.
    void evenOutAgain(const ConversionPlan& firstPass, Planner::Corrections& corrections) const {
        std::vector<std::filesystem::path> sources;
        std::vector<TrackMeta> current;
        sources.reserve(firstPass.items.size());
        current.reserve(firstPass.items.size());
        for (std::size_t p = 0; p < firstPass.items.size(); ++p) {
            sources.push_back(firstPass.items[p].source);
            const auto corrected = corrections.find(p);
            current.push_back(corrected != corrections.end() ? corrected->second
                                                             : firstPass.items[p].meta);
        }
        for (auto& [position, meta] : Planner::unifyAlbumArtists(sources, current)) {
            corrections[position] = runner_.options.aliases.apply(meta);
        }
    }

    const ConversionRunner& runner_;
    const ProgressCallback& progress_;
    std::stop_token stop_;
};

}  // namespace

void ConversionRunner::checkProfile() const {
    std::string problems;
    for (const ProfileValidator::Problem& problem : ProfileValidator::validate(profile)) {
        problems += (problems.empty() ? "" : "、") + problem.description();
    }
    if (!problems.empty()) throw ConversionError("機種の設定を直してください（" + problems + "）");
}

ConversionPlan ConversionRunner::plan(const ProgressCallback& progress,
                                      std::stop_token stop) const {
    checkProfile();
    return Pass(*this, progress, std::move(stop)).run();
}

}  // namespace tarvik
