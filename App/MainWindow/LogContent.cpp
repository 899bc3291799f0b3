#include "App/MainWindow/LogContent.hpp"

#include <algorithm>

namespace tarvik::LogContent {

bool accepts(int filter, LogLine::Kind kind) {
    switch (filter) {
        case renamed:
            return kind == LogLine::Kind::renamed;
        case failures:
            return kind == LogLine::Kind::error;
        default:
            return true;
    }
}

Colour colourFor(LogLine::Kind kind) {
    switch (kind) {
        case LogLine::Kind::info:
            return {};
        case LogLine::Kind::converted:
            return {std::nullopt, TextStyle::Tone::secondary};
        case LogLine::Kind::renamed:
            return {Palette::Name::accentText};
        case LogLine::Kind::error:
            return {Palette::Name::danger};
        case LogLine::Kind::notice:
            return {Palette::Name::warning};
    }
    return {};
}

bool sectionShown(bool showLog, const std::vector<LogLine>& log) {
    return showLog || std::any_of(log.begin(), log.end(), [](const LogLine& line) {
               return line.kind == LogLine::Kind::error;
           });
}

}  // namespace tarvik::LogContent
