#include "Core/Pipeline/CardTrackMatch.hpp"

#include <utility>

#include "Core/Convert/AudioLength.hpp"
#include "Core/Platform/Errors.hpp"
#include "Core/Platform/FileStreams.hpp"

namespace tarvik::CardTrackMatch {

bool sameTrack(const ConversionPlan::Item& item, const std::filesystem::path& cardFile,
               std::stop_token stop) {
    const std::optional<CardFile> card = AudioFacts::read(cardFile, stop);
    return card && Matcher(std::move(stop)).sameTrack(item, *card);
}

Matcher::Matcher(std::stop_token stop) : stop_(std::move(stop)) {}

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

bool Matcher::sameTrack(const ConversionPlan::Item& item, const CardFile& card) {
    // The tags first: they are read already, the source's length is not.
    return CardOwnership::sameTags(card, item.meta) &&
           CardOwnership::lengthsAgree(card.seconds, sourceSeconds(item.source));
}

bool Matcher::isTrack(const std::vector<const ConversionPlan::Item*>& tracks,
                      const CardFile& card) {
    for (const ConversionPlan::Item* track : tracks) {
        if (sameTrack(*track, card)) return true;
    }
    return false;
}

}  // namespace tarvik::CardTrackMatch
