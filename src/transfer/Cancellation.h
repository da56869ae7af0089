#pragma once

#include <asio/any_io_executor.hpp>

#include <functional>
#include <memory>
#include <mutex>

namespace qb::transfer {

// The user's "stop" for one transfer. Whoever may stop it (the model on the main thread, a signal on a network
// thread) shares the token with the transfer; the transfer binds, on its own strand, what ends it at once
// (closing its connection), and cancel() runs that there. Cancelling is final: a binding made afterwards runs
// its stop at once, so a cancel that comes between two steps is not lost.
class Cancellation : public std::enable_shared_from_this<Cancellation> {
public:
    class Binding;

    static std::shared_ptr<Cancellation> make() { return std::make_shared<Cancellation>(); }

    // From any thread; only the first call counts.
    void cancel();
    bool isCancelled() const;

    // While the returned Binding lives, cancel() runs `stop` on `strand`. Create and destroy the Binding on that
    // strand: `stop` then never runs after its Binding is gone. Already cancelled: `stop` runs here, at once.
    [[nodiscard]] Binding bind(asio::any_io_executor strand, std::function<void()> stop);

private:
    void unbind(unsigned generation);
    void runStop(unsigned generation);

    mutable std::mutex mutex_;
    bool cancelled_ = false;
    unsigned generation_ = 0;  // of the newest binding
    asio::any_io_executor strand_;
    std::function<void()> stop_;
};

class Cancellation::Binding {
public:
    Binding() = default;
    Binding(Binding&& other) noexcept;
    Binding& operator=(Binding&& other) noexcept;
    ~Binding();

private:
    friend class Cancellation;
    Binding(std::shared_ptr<Cancellation> owner, unsigned generation)
        : owner_(std::move(owner)), generation_(generation) {}
    void release();

    std::shared_ptr<Cancellation> owner_;
    unsigned generation_ = 0;
};

// bind() on a token that may be absent; no token gives an empty Binding.
inline Cancellation::Binding bindCancellation(const std::shared_ptr<Cancellation>& token, asio::any_io_executor strand,
                                              std::function<void()> stop) {
    return token ? token->bind(std::move(strand), std::move(stop)) : Cancellation::Binding{};
}

inline bool isCancelled(const std::shared_ptr<Cancellation>& token) {
    return token && token->isCancelled();
}

}  // namespace qb::transfer
