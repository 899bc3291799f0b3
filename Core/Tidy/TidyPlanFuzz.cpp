// The plan file's decoder on any bytes: a plan or a decoding error, and a
// plan that loads is saved and loaded again unchanged, and lists as CSV.
#include <optional>

#include "Core/Platform/Errors.hpp"
#include "Core/Platform/Json.hpp"
#include "Core/Testing/Fuzz.hpp"
#include "Core/Tidy/TidyPlan.hpp"

namespace tarvik {
namespace {

void run(std::span<const std::uint8_t> data) {
    const fuzz::MemoryFile file(data);
    std::optional<TidyPlan> plan;
    try {
        plan = TidyPlan::load(file.path());
    } catch (const DecodingError&) {
    } catch (const ConversionError&) {
    }
    if (!plan) return;
    if (TidyPlan::fromJSONText(plan->json()) != *plan) {
        throw fuzz::Finding("the plan does not load back as it was saved");
    }
    (void)plan->csv();
}

const fuzz::Registration registration("TidyPlan", run);

}  // namespace
}  // namespace tarvik
