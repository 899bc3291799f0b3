#pragma once
// Asks questions of file systems that may stop answering (a FUSE daemon that
// is stopped, a network share that dropped, a disk spinning up) without being
// held by them: each question runs on a thread of its own, and the asker
// waits for its answer no longer than the guard's deadline. A place whose
// last question is still unanswered is not asked again, so no threads pile up
// behind a stalled file system: the asker hears "no answer" at once. When a
// question answers after its asker gave up, `answeredLate` is told with its
// place, on the question's thread, so that whoever needs the answer may ask
// again. Questions must not throw. Threads still held when the guard goes are
// left to end by themselves: each owns what it touches (DetachedTask). Any
// thread but the GUI's, since asking waits up to the deadline.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stop_token>
#include <string>

namespace tarvik {

class HangGuard {
public:
    using AnsweredLate = std::function<void(const std::string& place)>;

    explicit HangGuard(std::chrono::milliseconds deadline, AnsweredLate answeredLate = {});

    // The answer of `question` about `place`; nothing when it did not come by
    // the deadline, when the stop came first, when an earlier question about
    // the place is still held, or when no thread could be had.
    template <class T>
    std::optional<T> ask(const std::string& place, std::function<T()> question,
                         std::stop_token stop) const {
        // Shared with the question's thread, which may write it after a wait
        // that gave up; read here only once it has answered.
        auto answer = std::make_shared<std::optional<T>>();
        const bool answered = run(
            place, [answer, question = std::move(question)] { *answer = question(); },
            std::move(stop));
        if (!answered) return std::nullopt;
        return std::move(*answer);
    }

    // Whether a question about `place` is still waiting for its file system.
    bool held(const std::string& place) const;

private:
    struct Shared;
    bool run(const std::string& place, std::function<void()> question, std::stop_token stop) const;

    std::chrono::milliseconds deadline_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace tarvik
