#pragma once
// Asks questions of file systems that may stop answering (a FUSE daemon that
// is stopped, a network share that dropped, a disk spinning up) without being
// held by them: each question runs on a thread of its own, and the asker
// waits for its answer no longer than the guard's deadline. A place whose
// last question is still unanswered is not asked again, so no threads pile up
// behind a stalled file system: the asker hears "no answer" at once. A
// question that answers after its asker gave up hands its answer to the
// asker's `late`, on the question's thread: a file system that always
// answers a little after the deadline is heard all the same, and nobody need
// ask it again. Questions must not throw. Threads still held when the guard
// goes are left to end by themselves: each owns what it touches
// (DetachedTask). Any thread but the GUI's, since asking waits up to the
// deadline.
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
    explicit HangGuard(std::chrono::milliseconds deadline);

    // The answer of `question` about `place`; nothing when it did not come by
    // the deadline, when the stop came first, when an earlier question about
    // the place is still held, or when no thread could be had. `late`, where
    // given, is handed the answer of this question if it comes after the
    // asker gave up (the deadline or the stop), on the question's thread; it
    // must own what it touches.
    template <class T>
    std::optional<T> ask(const std::string& place, std::function<T()> question,
                         std::stop_token stop, std::function<void(T)> late = {}) const {
        // Shared with the question's thread, which may write it after a wait
        // that gave up; read here only once it has answered, or there by `late`.
        auto answer = std::make_shared<std::optional<T>>();
        std::function<void()> tellLate;
        if (late) tellLate = [answer, late = std::move(late)] { late(std::move(**answer)); };
        const bool answered = run(
            place, [answer, question = std::move(question)] { *answer = question(); },
            std::move(tellLate), std::move(stop));
        if (!answered) return std::nullopt;
        return std::move(*answer);
    }

    // Whether a question about `place` is still waiting for its file system.
    bool held(const std::string& place) const;

private:
    struct Shared;
    bool run(const std::string& place, std::function<void()> question, std::function<void()> late,
             std::stop_token stop) const;

    std::chrono::milliseconds deadline_;
    std::shared_ptr<Shared> shared_;
};

}  // namespace tarvik
