#include <gtest/gtest.h>

#include "App/Model/TidyModel.hpp"

namespace tarvik {
namespace {

using State = TidyModel::State;

TEST(TidyModel, StatesAreEqualInCaseAndPayloadUnderCanonicalEquivalence) {
    const std::vector<State> distinct = {
        {State::Idle{}},
        {State::Planning{"a"}},
        {State::Planning{"b"}},
        {State::Applying{1, 3, "x"}},
        {State::Applying{1, 3, "y"}},
        {State::Finished{{1, 0, std::nullopt}}},
        {State::Finished{{1, 0, "/j/tidy.jsonl"}}},
        {State::Failed{"a"}},
    };
    for (std::size_t i = 0; i < distinct.size(); ++i)
        for (std::size_t j = 0; j < distinct.size(); ++j)
            EXPECT_EQ(distinct[i] == distinct[j], i == j) << i << " " << j;
    const std::string composed = "\u00E9", decomposed = "e\u0301";
    EXPECT_EQ((State{State::Planning{composed}}), (State{State::Planning{decomposed}}));
    EXPECT_EQ((State{State::Failed{composed}}), (State{State::Failed{decomposed}}));
    EXPECT_EQ((State{State::Applying{1, 2, composed}}), (State{State::Applying{1, 2, decomposed}}));
}

}  // namespace
}  // namespace tarvik
