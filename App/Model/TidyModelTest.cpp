#include <gtest/gtest.h>

#include <QSignalSpy>
#include <functional>

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


// Each setter announces a real change with its own signal, once, and nothing
// for a value equal to the one held (texts compared as the user reads them).
TEST(TidyModel, SettersAnnounceOnlyRealChangesEachWithItsOwnSignal) {
    TidyModel model;
    QSignalSpy state(&model, &TidyModel::stateChanged), plan(&model, &TidyModel::planChanged),
        errors(&model, &TidyModel::errorsChanged), tab(&model, &TidyModel::tabChanged),
        journals(&model, &TidyModel::journalsChanged);
    const std::vector<QSignalSpy*> spies = {&state, &plan, &errors, &tab, &journals};
    const auto counts = [&] {
        std::vector<qsizetype> seen;
        for (QSignalSpy* spy : spies) seen.push_back(spy->count());
        return seen;
    };
    using Counts = std::vector<qsizetype>;
    const std::string composed = "\u00E9", decomposed = "e\u0301";
    TidyPlan sample{"/m", {}, {}};
    TidyItem item;
    item.source = "a/" + composed + ".mp3";
    item.target = "a/b.mp3";
    sample.items.push_back(item);

    const std::vector<std::pair<std::function<void()>, Counts>> steps = {
        {[&] { model.setState({State::Idle{}}); }, {0, 0, 0, 0, 0}},  // already idle
        {[&] { model.setState({State::Applying{0, 2, composed}}); }, {1, 0, 0, 0, 0}},
        {[&] { model.setState({State::Applying{0, 2, decomposed}}); }, {1, 0, 0, 0, 0}},
        {[&] { model.setState({State::Applying{1, 2, decomposed}}); }, {2, 0, 0, 0, 0}},
        {[&] { model.setPlan(sample); }, {2, 1, 0, 0, 0}},
        {[&] { model.setPlan(sample); }, {2, 1, 0, 0, 0}},
        {[&] { model.setPlan(std::nullopt); }, {2, 2, 0, 0, 0}},
        {[&] { model.setErrors({composed}); }, {2, 2, 1, 0, 0}},
        {[&] { model.setErrors({decomposed}); }, {2, 2, 1, 0, 0}},
        {[&] { model.setErrors({decomposed, "x"}); }, {2, 2, 2, 0, 0}},
        {[&] { model.setTab(0); }, {2, 2, 2, 0, 0}},
        {[&] { model.setTab(2); }, {2, 2, 2, 1, 0}},
        {[&] { model.setJournals({"/j/tidy-1.jsonl"}); }, {2, 2, 2, 1, 1}},
        {[&] { model.setJournals({"/j/tidy-1.jsonl"}); }, {2, 2, 2, 1, 1}},
        {[&] { model.setState({State::Finished{{2, 0, "/j/tidy-1.jsonl"}}}); }, {3, 2, 2, 1, 1}},
    };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        steps[i].first();
        EXPECT_EQ(counts(), steps[i].second) << "step " << i;
    }
    EXPECT_EQ(model.state(), (State{State::Finished{{2, 0, "/j/tidy-1.jsonl"}}}));
    EXPECT_EQ(model.tab(), 2);
    EXPECT_EQ(model.errors(), (std::vector<std::string>{decomposed, "x"}));
}

}  // namespace
}  // namespace tarvik
