// How the carry-over between cards names a track that an earlier card took:
// its album's identity and the path the plan gave it, so that a track the
// card moved to a numbered folder ("Road 2") is still known by its planned
// place, and a planned place that another album takes later is not. Entries
// stored by older versions (the planned path alone) still count. Pure
// functions; any thread.
#pragma once

#include <set>
#include <string>

#include "Core/Pipeline/ConversionPlan.hpp"

namespace tarvik::CarryOver {

// The album's identity, a tab (no card path holds one) and the item's
// planned path in NFC.
std::string entry(const ConversionPlan::Item& planned);
std::string entry(const std::string& identity, const std::string& plannedPath);

// Whether the carry-over holds the item as planned.
bool holds(const std::set<std::string>& carried, const ConversionPlan::Item& planned);
bool holds(const std::set<std::string>& carried, const std::string& identity,
           const std::string& plannedPath);

}  // namespace tarvik::CarryOver
