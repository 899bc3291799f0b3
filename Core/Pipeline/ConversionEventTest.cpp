#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Core/Pipeline/ConversionEvent.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"

namespace tarvik {
namespace {

using E = ConversionEvent;

const std::string composed = "Caf\u00E9";     // é as one scalar
const std::string decomposed = "Cafe\u0301";  // e and a combining acute

TrackMeta song(std::string title) {
    return TrackMeta(std::move(title), "Band", "Band", "Album", "1", "", "", "");
}

E::Summary summary(std::vector<std::string> placed, std::optional<std::int64_t> eta = {}) {
    E::Summary result;
    result.progress = {.done = 2, .total = 3, .etaSeconds = eta};
    result.placed = std::move(placed);
    return result;
}

TEST(ConversionEvent, EqualityComparesCaseAndPayload) {
    struct Case {
        std::string name;
        E a, b;
        bool equal;
    };
    const std::vector<Case> cases = {
        {"different phases", E::scanning(), E::planning(), false},
        {"album names canonically equivalent", E::lookingUp(1, 2, composed),
         E::lookingUp(1, 2, decomposed), true},
        {"paths canonically equivalent", E::converted(composed + "/01.mp3"),
         E::converted(decomposed + "/01.mp3"), true},
        {"converted is not skipped", E::converted("a.mp3"), E::skipped("a.mp3"), false},
        {"renamed records equal field by field", E::renamed(song(composed), song("b")),
         E::renamed(song(decomposed), song("b")), true},
        {"no estimate is not an estimate of zero", E{E::Progress{}},
         E{E::Progress{.etaSeconds = 0}}, false},
        {"placed equivalent element by element", E::finished(summary({composed, "b"})),
         E::finished(summary({decomposed, "b"})), true},
    };
    for (const Case& test : cases) {
        EXPECT_EQ(test.a == test.b, test.equal) << test.name;
        EXPECT_EQ(test.b == test.a, test.equal) << test.name;
    }
}

}  // namespace
}  // namespace tarvik
