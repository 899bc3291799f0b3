#pragma once
// The signals that end a desktop session's programs (SIGTERM at logout, SIGINT
// from a terminal, SIGHUP when the terminal goes) end this one the way Ctrl+Q
// does, with its clean-up: the run stops, its children end and its temporary
// folders go. The handler only writes to a pipe; the GUI thread, woken by it,
// calls `quit`. A second signal of the same kind, while that quit is under way,
// takes the default action and ends the program at once. One object at a time,
// made and destroyed on the GUI thread; destroying it restores the defaults
// (the pipe stays open for the life of the process).
#include <QObject>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace tarvik {

class QuitSignals : public QObject {
public:
    // Null when the pipe or the handlers can't be set up: the signals then
    // keep their default action.
    static std::unique_ptr<QuitSignals> install(std::function<void()> quit);
    ~QuitSignals() override;

private:
    QuitSignals(int readEnd, std::function<void()> quit);

    int readEnd_;
    QSocketNotifier* notifier_;
    std::function<void()> quit_;
};

}  // namespace tarvik
