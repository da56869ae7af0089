#include "transfer/Cancellation.h"

#include <asio/post.hpp>

#include <utility>

namespace qb::transfer {

void Cancellation::cancel() {
    std::unique_lock lock(mutex_);
    if (cancelled_)
        return;
    cancelled_ = true;
    if (!stop_)
        return;
    const auto strand = strand_;
    const unsigned generation = generation_;
    lock.unlock();
    asio::post(strand, [self = shared_from_this(), generation] { self->runStop(generation); });
}

bool Cancellation::isCancelled() const {
    const std::lock_guard lock(mutex_);
    return cancelled_;
}

Cancellation::Binding Cancellation::bind(asio::any_io_executor strand, std::function<void()> stop) {
    std::unique_lock lock(mutex_);
    const unsigned generation = ++generation_;
    if (cancelled_) {
        lock.unlock();
        if (stop)
            stop();
        return Binding(shared_from_this(), generation);
    }
    strand_ = std::move(strand);
    stop_ = std::move(stop);
    return Binding(shared_from_this(), generation);
}

void Cancellation::unbind(unsigned generation) {
    const std::lock_guard lock(mutex_);
    if (generation == generation_) {
        stop_ = nullptr;
        strand_ = {};
    }
}

// On the bound strand, where the Binding is also destroyed: a stop still bound here is safe to run.
void Cancellation::runStop(unsigned generation) {
    std::unique_lock lock(mutex_);
    if (generation != generation_ || !stop_)
        return;
    auto stop = std::exchange(stop_, nullptr);
    lock.unlock();
    stop();
}

Cancellation::Binding::Binding(Binding&& other) noexcept
    : owner_(std::move(other.owner_)), generation_(other.generation_) {}

Cancellation::Binding& Cancellation::Binding::operator=(Binding&& other) noexcept {
    if (this != &other) {
        release();
        owner_ = std::move(other.owner_);
        generation_ = other.generation_;
    }
    return *this;
}

Cancellation::Binding::~Binding() {
    release();
}

void Cancellation::Binding::release() {
    if (owner_)
        owner_->unbind(generation_);
    owner_.reset();
}

}  // namespace qb::transfer
