#include <gtest/gtest.h>

#include "Core/Pipeline/ConversionEvent.hpp"
#include "Core/Pipeline/ConversionRunnerTesting.hpp"

namespace tarvik {
namespace {

using E = ConversionEvent;

TEST(ConversionEvent, EqualityComparesCaseAndPayloadWithNamesInAnyNormalForm) {
    const std::string composed = "Caf\u00E9", decomposed = "Cafe\u0301";
    const auto song = [](const std::string& title) {
        return TrackMeta(title, "Band", "Band", "Album", "1", "", "", "");
    };
    const auto placed = [](const std::string& path) {
        return E::finished(
            {{.done = 2, .total = 3, .etaSeconds = {}}, false, false, 0, {path, "b"}});
    };
    const std::vector<std::tuple<E, E, bool>> cases = {
        {E::scanning(), E::planning(), false},
        {E::lookingUp(1, 2, composed), E::lookingUp(1, 2, decomposed), true},
        {E::converted(composed + "/01.mp3"), E::converted(decomposed + "/01.mp3"), true},
        {E::converted("a.mp3"), E::skipped("a.mp3"), false},
        {E::renamed(song(composed), song("b")), E::renamed(song(decomposed), song("b")), true},
        {E{E::Progress{}}, E{E::Progress{.etaSeconds = 0}}, false},
        {placed(composed), placed(decomposed), true},
    };
    for (const auto& [a, b, equal] : cases) {
        EXPECT_EQ(a == b, equal) << ::testing::PrintToString(a);
        EXPECT_EQ(b == a, equal) << ::testing::PrintToString(b);
    }
}

}  // namespace
}  // namespace tarvik
