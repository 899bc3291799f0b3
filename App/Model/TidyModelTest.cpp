#include <gtest/gtest.h>

#include <QSignalSpy>

#include "App/Model/TidyModel.hpp"

namespace tarvik {
namespace {

using State = TidyModel::State;

// Each setter announces a real change with its own signal, once, and nothing
// for a value equal to the one held: states are equal in case and in every
// payload, texts compared as the user reads them.
TEST(TidyModel, SettersAnnounceOnlyRealChangesEachWithItsOwnSignal) {
    TidyModel model;
    QSignalSpy state(&model, &TidyModel::stateChanged), plan(&model, &TidyModel::planChanged),
        errors(&model, &TidyModel::errorsChanged), tab(&model, &TidyModel::tabChanged),
        journals(&model, &TidyModel::journalsChanged);
    const std::string composed = "\u00E9", decomposed = "e\u0301";
    // Each state and how many changes were announced after it.
    const std::vector<std::pair<State, int>> states = {
        {{State::Idle{}}, 0},  // already idle
        {{State::Planning{composed}}, 1},
        {{State::Planning{decomposed}}, 1},
        {{State::Failed{decomposed}}, 2},
        {{State::Failed{composed}}, 2},
        {{State::Applying{0, 2, composed}}, 3},
        {{State::Applying{0, 2, decomposed}}, 3},
        {{State::Applying{1, 2, decomposed}}, 4},
        {{State::Applying{1, 3, decomposed}}, 5},
        {{State::Applying{1, 3, "x"}}, 6},
        {{State::Finished{{1, 0, std::nullopt}}}, 7},
        {{State::Finished{{1, 0, "/j/tidy.jsonl"}}}, 8},
        {{State::Finished{{1, 0, "/j/tidy.jsonl"}}}, 8},
    };
    for (const auto& [next, announced] : states) {
        model.setState(next);
        EXPECT_EQ(state.count(), announced) << state.count();
    }
    TidyPlan sample{"/m", {}, {}};
    sample.items.push_back(TidyItem{});
    model.setPlan(sample);
    model.setPlan(sample);
    model.setPlan(std::nullopt);
    model.setErrors({composed});
    model.setErrors({decomposed});
    model.setErrors({decomposed, "x"});
    model.setTab(0);
    model.setTab(2);
    model.setJournals({"/j/tidy-1.jsonl"});
    model.setJournals({"/j/tidy-1.jsonl"});
    EXPECT_EQ((std::vector<qsizetype>{state.count(), plan.count(), errors.count(), tab.count(),
                                      journals.count()}),
              (std::vector<qsizetype>{8, 2, 2, 1, 1}));
}

}  // namespace
}  // namespace tarvik
