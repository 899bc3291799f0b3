#include <gtest/gtest.h>

#include <QSignalSpy>

#include "App/Model/TidyModel.hpp"

namespace tarvik {
namespace {

using State = TidyModel::State;

TEST(TidyModel, StatesAreEqualInCaseAndPayload) {
    const std::string composed = "\u00E9", decomposed = "e\u0301";
    const std::vector<State> distinct = {
        {State::Idle{}},
        {State::Planning{"a"}},
        {State::Planning{"b"}},
        {State::Reviewing{}},
        {State::Applying{1, 3, "x"}},
        {State::Applying{2, 3, "x"}},
        {State::Applying{1, 4, "x"}},
        {State::Applying{1, 3, "y"}},
        {State::Undoing{}},
        {State::Finished{{1, 0, std::nullopt}}},
        {State::Finished{{1, 0, "/j/tidy.jsonl"}}},
        {State::Finished{{1, 1, std::nullopt}}},
        {State::Failed{"a"}},
    };
    for (std::size_t i = 0; i < distinct.size(); ++i) {
        for (std::size_t j = 0; j < distinct.size(); ++j) {
            EXPECT_EQ(distinct[i] == distinct[j], i == j) << i << " " << j;
        }
    }
    EXPECT_EQ((State{State::Planning{composed}}), (State{State::Planning{decomposed}}));
    EXPECT_EQ((State{State::Failed{composed}}), (State{State::Failed{decomposed}}));
    EXPECT_EQ((State{State::Applying{1, 2, composed}}), (State{State::Applying{1, 2, decomposed}}));
}

TEST(TidyModel, EverySetterAnnouncesARealChangeOnly) {
    TidyModel model;
    QSignalSpy state(&model, &TidyModel::stateChanged), plan(&model, &TidyModel::planChanged),
        errors(&model, &TidyModel::errorsChanged), tab(&model, &TidyModel::tabChanged),
        journals(&model, &TidyModel::journalsChanged);

    model.setState({State::Idle{}});
    model.setPlan(std::nullopt);
    model.setErrors({});
    model.setTab(0);
    model.setJournals({});
    for (QSignalSpy* spy : {&state, &plan, &errors, &tab, &journals}) EXPECT_EQ(spy->count(), 0);

    model.setState({State::Applying{0, 2, "x"}});
    model.setState({State::Applying{0, 2, "x"}});
    model.setState({State::Applying{1, 2, "x"}});
    EXPECT_EQ(state.count(), 2);
    TidyPlan made;
    made.root = "/m";
    model.setPlan(made);
    model.setPlan(made);
    EXPECT_EQ(plan.count(), 1);
    model.setErrors({"e\u0301"});
    model.setErrors({"\u00E9"});
    EXPECT_EQ(errors.count(), 1);
    model.setTab(2);
    EXPECT_EQ(tab.count(), 1);
    model.setJournals({"/j/tidy-1.jsonl"});
    EXPECT_EQ(journals.count(), 1);
    EXPECT_EQ(model.tab(), 2);
    EXPECT_EQ(model.journals().size(), 1u);
    EXPECT_EQ(model.state(), (State{State::Applying{1, 2, "x"}}));

    // The work it holds is no announced field.
    model.task = DetachedTask::start([](std::stop_token) {});
    model.task->wait();
    EXPECT_EQ(state.count(), 2);
}

}  // namespace
}  // namespace tarvik
