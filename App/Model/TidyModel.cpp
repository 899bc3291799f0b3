#include "App/Model/TidyModel.hpp"

#include <algorithm>

#include "Core/Platform/Text.hpp"

namespace tarvik {
namespace {

// Assigns and announces only a real change.
template <typename T, typename Signal>
void update(TidyModel* model, T& member, T value, Signal signal) {
    if (member == value) return;
    member = std::move(value);
    emit(model->*signal)();
}

}  // namespace

bool TidyModel::State::Planning::operator==(const Planning& other) const {
    return text::equivalent(text, other.text);
}

bool TidyModel::State::Applying::operator==(const Applying& other) const {
    return done == other.done && total == other.total && text::equivalent(name, other.name);
}

bool TidyModel::State::Failed::operator==(const Failed& other) const {
    return text::equivalent(message, other.message);
}

void TidyModel::setState(State state) {
    update(this, state_, std::move(state), &TidyModel::stateChanged);
}

void TidyModel::setPlan(std::optional<TidyPlan> plan) {
    update(this, plan_, std::move(plan), &TidyModel::planChanged);
}

void TidyModel::setErrors(std::vector<std::string> errors) {
    // Error texts are compared as the user reads them.
    const bool same = errors.size() == errors_.size() &&
                      std::equal(errors.begin(), errors.end(), errors_.begin(),
                                 [](const std::string& a, const std::string& b) {
                                     return text::equivalent(a, b);
                                 });
    if (same) return;
    errors_ = std::move(errors);
    emit errorsChanged();
}

void TidyModel::setTab(int tab) {
    update(this, tab_, tab, &TidyModel::tabChanged);
}

void TidyModel::setJournals(std::vector<std::filesystem::path> journals) {
    update(this, journals_, std::move(journals), &TidyModel::journalsChanged);
}

}  // namespace tarvik
