#pragma once

#include <string>
#include <utility>

namespace qb::model {

// One transfer or pairing handshake as the panel shows it, from its start until its removal timer fires.
struct TransferJob {
    enum class Direction { outgoing, incoming };

    class State {
    public:
        enum class Kind { running, done, failed };

        static State running() { return State(Kind::running, {}); }
        static State done() { return State(Kind::done, {}); }
        // `message` is user-facing text, already localised.
        static State failed(std::string message) { return State(Kind::failed, std::move(message)); }

        Kind kind() const { return kind_; }
        bool isRunning() const { return kind_ == Kind::running; }
        bool isDone() const { return kind_ == Kind::done; }
        bool isFailed() const { return kind_ == Kind::failed; }
        // Empty unless failed.
        const std::string& message() const { return message_; }

        friend bool operator==(const State&, const State&) = default;

    private:
        State(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}

        Kind kind_;
        std::string message_;
    };

    std::string id{};    // UUID text; for an incoming transfer the server's transfer id
    std::string name{};  // file, folder or batch name, or a pairing job's waiting text
    std::string peer{};  // the other device's display name
    Direction direction = Direction::outgoing;
    double progress = 0.0;
    State state = State::running();
    bool pair = false;

    friend bool operator==(const TransferJob&, const TransferJob&) = default;
};

}  // namespace qb::model
