#include "Core/Pipeline/CardTrackMatch.hpp"

#include <charconv>
#include <utility>

#include "Core/Convert/AudioLength.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/FileStreams.hpp"

namespace tarvik::CardTrackMatch {

Decode decodeWith(std::shared_ptr<const FFmpegRunner> ffmpeg) {
    return [ffmpeg = std::move(ffmpeg)](const std::filesystem::path& source,
                                        std::stop_token stop) -> std::optional<double> {
        // The progress lines name the time of the last audio decoded.
        const FFmpegRunner::Output output = ffmpeg->runRaw(
            {"-loglevel", "error", "-nostats", "-i", std::filesystem::absolute(source).string(),
             "-map", "0:a:0", "-progress", "pipe:1", "-f", "null", "-"},
            std::nullopt, stop);
        if (stop.stop_requested()) throw Cancelled();
        if (output.exitCode != 0) return std::nullopt;
        const std::string_view text(reinterpret_cast<const char*>(output.stdout.data()),
                                    output.stdout.size());
        constexpr std::string_view key = "out_time_us=";
        const std::size_t at = text.rfind(key);
        if (at == std::string_view::npos) return std::nullopt;
        std::int64_t microseconds = 0;
        const char* first = text.data() + at + key.size();
        if (std::from_chars(first, text.data() + text.size(), microseconds).ec != std::errc{} ||
            microseconds <= 0) {
            return std::nullopt;
        }
        return static_cast<double>(microseconds) / 1e6;
    };
}

bool sameTrack(const ConversionPlan::Item& item, const std::filesystem::path& cardFile,
               std::stop_token stop) {
    const std::optional<CardFile> card = AudioFacts::read(cardFile, stop);
    return card && Matcher(std::move(stop)).sameTrack(item, *card);
}

Matcher::Matcher(std::stop_token stop, Decode decode)
    : stop_(std::move(stop)), decode_(std::move(decode)) {}

const std::optional<double>& Matcher::sourceSeconds(const std::filesystem::path& source) {
    auto known = sources_.find(source.native());
    if (known == sources_.end()) {
        if (stop_.stop_requested()) throw Cancelled();
        std::optional<double> seconds;
        try {
            FileSource file(source);
            seconds = AudioLength::seconds(file, stop_);
        } catch (const ConversionError&) {
        }
        known = sources_.emplace(source.native(), seconds).first;
    }
    return known->second;
}

bool Matcher::lengthAgrees(const std::filesystem::path& source, const std::optional<double>& card) {
    if (CardOwnership::lengthsAgree(card, sourceSeconds(source))) return true;
    if (!decode_) return false;
    auto known = decoded_.find(source.native());
    if (known == decoded_.end()) {
        known = decoded_.emplace(source.native(), decode_(source, stop_)).first;
    }
    return known->second && CardOwnership::lengthsAgree(card, known->second);
}

bool Matcher::sameTrack(const ConversionPlan::Item& item, const CardFile& card) {
    // The tags first: they are read already, the source's length is not.
    return CardOwnership::sameTags(card, item.meta) && lengthAgrees(item.source, card.seconds);
}

bool Matcher::isTrack(const std::vector<const ConversionPlan::Item*>& tracks,
                      const CardFile& card) {
    for (const ConversionPlan::Item* track : tracks) {
        if ((CardOwnership::sameTags(card, track->meta) ||
             (track->library && CardOwnership::sameTags(card, *track->library))) &&
            lengthAgrees(track->source, card.seconds)) {
            return true;
        }
    }
    return false;
}

}  // namespace tarvik::CardTrackMatch
