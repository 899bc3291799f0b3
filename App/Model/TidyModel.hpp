#pragma once
// The application's holder of the library tidy's state, for a window that
// would watch a plan being made, reviewed, applied or undone: the phase, the
// plan, error texts, the chosen tab, the journals and the running work. A
// QObject of the GUI thread; every setter announces a real change with its
// signal and nothing else. It starts no work of its own, and releasing it
// does not cancel the work it holds.
#include <QObject>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "Core/Platform/DetachedTask.hpp"
#include "Core/Tidy/TidyJournal.hpp"
#include "Core/Tidy/TidyPlan.hpp"

namespace tarvik {

class TidyModel : public QObject {
    Q_OBJECT

public:
    struct State {
        struct Idle {
            bool operator==(const Idle&) const = default;
        };
        struct Planning {
            std::string text;
            bool operator==(const Planning& other) const;
        };
        struct Reviewing {
            bool operator==(const Reviewing&) const = default;
        };
        // The values of the applier's progress event.
        struct Applying {
            std::int64_t done = 0;
            std::int64_t total = 0;
            std::string name;
            bool operator==(const Applying& other) const;
        };
        struct Undoing {
            bool operator==(const Undoing&) const = default;
        };
        struct Finished {
            TidyResult result;
            bool operator==(const Finished&) const = default;
        };
        struct Failed {
            std::string message;
            bool operator==(const Failed& other) const;
        };

        std::variant<Idle, Planning, Reviewing, Applying, Undoing, Finished, Failed> value;

        // Same case and equal payloads; texts compared as the user reads them.
        bool operator==(const State&) const = default;
    };

    explicit TidyModel(QObject* parent = nullptr) : QObject(parent) {}

    const State& state() const { return state_; }
    void setState(State state);
    const std::optional<TidyPlan>& plan() const { return plan_; }
    void setPlan(std::optional<TidyPlan> plan);
    const std::vector<std::string>& errors() const { return errors_; }
    void setErrors(std::vector<std::string> errors);
    int tab() const { return tab_; }
    void setTab(int tab);
    const std::vector<std::filesystem::path>& journals() const { return journals_; }
    void setJournals(std::vector<std::filesystem::path> journals);

    // The running work; not announced.
    std::shared_ptr<DetachedTask> task;

signals:
    void stateChanged();
    void planChanged();
    void errorsChanged();
    void tabChanged();
    void journalsChanged();

private:
    State state_;
    std::optional<TidyPlan> plan_;
    std::vector<std::string> errors_;
    int tab_ = 0;
    std::vector<std::filesystem::path> journals_;
};

}  // namespace tarvik
