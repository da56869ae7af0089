#pragma once

#include <functional>
#include <type_traits>
#include <utility>

namespace qb::transfer {

// The owner's answer to one incoming header: call it with true to accept. Copyable and callable from any thread,
// any number of times: only the first call counts, and none after the gate timed out or the sender went away.
class GateAnswer {
public:
    using Watch = std::function<void(std::function<void()> onWithdrawn)>;

    GateAnswer() = default;
    // Any callable taking the decision; such an answer is never withdrawn.
    template <class Answer>
    requires(!std::is_same_v<std::decay_t<Answer>, GateAnswer> && std::is_invocable_v<Answer&, bool>) GateAnswer(
        Answer answer)  // NOLINT: implicit, so that plain functions serve where a server's answer is expected
        : answer_(std::move(answer)) {}
    GateAnswer(std::function<void(bool)> answer, Watch watch) : answer_(std::move(answer)), watch_(std::move(watch)) {}

    void operator()(bool accept) const {
        if (answer_)
            answer_(accept);
    }

    // `onWithdrawn` runs once, on the server's strand, when the sender gives up (resets its connection, as a
    // cancelled sender does) before any answer was given: the request it made is void. It never runs after an
    // answer or a time-out.
    void onWithdrawn(std::function<void()> onWithdrawn) const {
        if (watch_)
            watch_(std::move(onWithdrawn));
    }

private:
    std::function<void(bool)> answer_;
    Watch watch_;
};

}  // namespace qb::transfer
