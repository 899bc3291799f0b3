#pragma once
// What the log panel shows, as plain functions: which lines a filter keeps,
// the colour of a line's kind, and whether the main window wants the panel at
// all. No widgets here; the panel lays these out and the tests check them
// without a window. Pure; never fail.
#include <optional>
#include <vector>

#include "App/Kit/Palette.hpp"
#include "App/Kit/TextStyle.hpp"
#include "App/Model/RunState.hpp"

namespace tarvik::LogContent {

// 0 "すべて", 1 "整えた曲名" (title corrections), 2 "失敗"; any other value shows all.
enum Filter { all = 0, renamed = 1, failures = 2 };
inline constexpr const char* filterLabels[] = {"すべて", "整えた曲名", "失敗"};
bool accepts(int filter, LogLine::Kind kind);

// A kind's colour: a named colour, or the text colour at a tone.
struct Colour {
    std::optional<Palette::Name> name;
    TextStyle::Tone tone = TextStyle::Tone::primary;

    bool operator==(const Colour&) const = default;
};
Colour colourFor(LogLine::Kind kind);

// The main window shows the panel while it is asked for, or once the log
// holds a failure, so that a run's failures are never out of sight.
bool sectionShown(bool showLog, const std::vector<LogLine>& log);

}  // namespace tarvik::LogContent
