#include "Core/Pipeline/ConversionEvent.hpp"

#include <algorithm>

#include "Core/Platform/Text.hpp"

namespace tarvik {

bool ConversionEvent::Phase::LookingUp::operator==(const LookingUp& other) const {
    return album == other.album && albums == other.albums && text::equivalent(name, other.name);
}

bool ConversionEvent::Track::Converted::operator==(const Converted& other) const {
    return text::equivalent(path, other.path);
}

bool ConversionEvent::Track::Skipped::operator==(const Skipped& other) const {
    return text::equivalent(path, other.path);
}

bool ConversionEvent::Track::Failed::operator==(const Failed& other) const {
    return text::equivalent(source, other.source) && text::equivalent(reason, other.reason);
}

bool ConversionEvent::Notice::operator==(const Notice& other) const {
    return text::equivalent(text, other.text);
}

std::int64_t ConversionEvent::Summary::songsFailed() const {
    return halt == Halt::none ? progress.failed : std::max<std::int64_t>(0, progress.failed - 1);
}

bool ConversionEvent::Summary::operator==(const Summary& other) const {
    return progress == other.progress && stopped == other.stopped && cardFull == other.cardFull &&
           renamed == other.renamed && halt == other.halt && carried == other.carried &&
           std::equal(
               placed.begin(), placed.end(), other.placed.begin(), other.placed.end(),
               [](const std::string& a, const std::string& b) { return text::equivalent(a, b); });
}

}  // namespace tarvik
