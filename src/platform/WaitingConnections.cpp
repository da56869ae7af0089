#include "platform/WaitingConnections.h"

#include <algorithm>
#include <utility>

namespace qb::platform {

namespace {

// A dual-stack listener sees IPv4 peers as ::ffff:a.b.c.d; they count as the IPv4 address they are.
asio::ip::address plain(const asio::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped()) {
        return asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
    }
    return address;
}

}  // namespace

WaitingConnections::Ticket::Ticket(Ticket&& other) noexcept
    : owner_(std::move(other.owner_)), id_(std::exchange(other.id_, 0)) {}

WaitingConnections::Ticket& WaitingConnections::Ticket::operator=(Ticket&& other) noexcept {
    if (this != &other) {
        release();
        owner_ = std::move(other.owner_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

void WaitingConnections::Ticket::release() {
    if (auto owner = owner_.lock(); owner && id_ != 0) {
        owner->remove(id_);
    }
    owner_.reset();
    id_ = 0;
}

std::shared_ptr<WaitingConnections> WaitingConnections::make(Caps caps) {
    return std::make_shared<WaitingConnections>(caps);
}

WaitingConnections::Ticket WaitingConnections::admit(const asio::ip::address& source, std::function<void()> close) {
    const auto from = plain(source);
    const auto sameSource = static_cast<std::size_t>(
        std::count_if(waiting_.begin(), waiting_.end(), [&](const Waiting& entry) { return entry.source == from; }));
    if (caps_.perAddress > 0 && sameSource >= caps_.perAddress) {
        closeOldest(&from);
    }
    if (caps_.total > 0 && waiting_.size() >= caps_.total) {
        closeOldest(nullptr);
    }
    const auto id = nextId_++;
    waiting_.push_back({id, from, std::move(close)});
    return Ticket(weak_from_this(), id);
}

void WaitingConnections::closeOldest(const asio::ip::address* from) {
    const auto oldest = std::find_if(waiting_.begin(), waiting_.end(),
                                     [&](const Waiting& entry) { return from == nullptr || entry.source == *from; });
    if (oldest == waiting_.end()) {
        return;
    }
    // Out of the list before it closes, so that its ticket finds nothing to release.
    auto close = std::move(oldest->close);
    waiting_.erase(oldest);
    if (close) {
        close();
    }
}

void WaitingConnections::remove(std::uint64_t id) {
    const auto entry =
        std::find_if(waiting_.begin(), waiting_.end(), [id](const Waiting& waiting) { return waiting.id == id; });
    if (entry != waiting_.end()) {
        waiting_.erase(entry);
    }
}

}  // namespace qb::platform
