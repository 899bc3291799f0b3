#pragma once
// What the review sheet shows, as plain values computed from a snapshot of the
// model: the summary lines with their styles, the fit estimate, the tab labels,
// the confirm button and the two tables' cells. No widgets here: the sheet lays
// these out, and the tests check them without a window. GUI thread (the
// snapshot points into the model); never fails.
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "App/Model/RunState.hpp"
#include "Core/Naming/TrackMeta.hpp"
#include "Core/Pipeline/ConversionPlan.hpp"
#include "Core/Profiles/DeviceProfile.hpp"

namespace tarvik {

class AppModel;

// The model's members the sheet reads. The pointers stay valid while the model
// does not change, which is for the length of one redraw.
struct ReviewSnapshot {
    const ConversionPlan* plan = nullptr;
    const DeviceProfile* profile = nullptr;  // the one named by profileId
    const Volume* destination = nullptr;     // the listed volume at destPath
    std::string destPath;
    bool continuing = false;
    const std::set<std::string>* carryOver = nullptr;
    const std::vector<std::pair<TrackMeta, TrackMeta>>* renamed = nullptr;
    std::int64_t reserveMB = 0;

    static ReviewSnapshot of(const AppModel& model);
};

// How many planned songs go onto this card, and how many will not fit.
struct ReviewEstimate {
    std::int64_t carried = 0;
    std::int64_t remaining = 0;
    // Absent when the unit's bit rate gives no finite estimate (0 or less, or
    // counts beyond 64 bits).
    std::optional<std::int64_t> estimatedBytes;
    std::int64_t notFitting = 0;
};

ReviewEstimate estimateReview(const ReviewSnapshot& snapshot);

struct ReviewLine {
    enum class Style { headline, teal, success, warning, path, secondary, callout };
    std::string text;
    Style style = Style::secondary;

    bool operator==(const ReviewLine&) const = default;
};

// The summary card's lines, in order; empty when the middle part is left out.
std::vector<ReviewLine> reviewSummary(const ReviewSnapshot& snapshot);

// The middle part (summary, tabs, table) shows only with a plan and a profile.
bool reviewHasMiddle(const ReviewSnapshot& snapshot);
std::string songsTabLabel(const ReviewSnapshot& snapshot);
std::string titlesTabLabel(const ReviewSnapshot& snapshot);
std::string confirmLabel(const ReviewSnapshot& snapshot);
bool confirmEnabled(const ReviewSnapshot& snapshot);

// One table cell: `dim` wins over `tint`.
struct Cell {
    std::string text;
    bool dim = false;
    bool tint = false;

    bool operator==(const Cell&) const = default;
};

struct TableHeader {
    std::string title;
    double weight = 1;
};

std::vector<TableHeader> songTableHeaders(const ReviewSnapshot& snapshot);
std::vector<Cell> songTableRow(const ConversionPlan::Item& item);
std::vector<TableHeader> titlesTableHeaders();
std::vector<Cell> titlesTableRow(const std::pair<TrackMeta, TrackMeta>& change);

}  // namespace tarvik
