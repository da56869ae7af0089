#pragma once

#include <asio/ip/address.hpp>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>

namespace qb::platform {

// The connections that have not yet said what they want (a TLS handshake or a header still to come),
// capped per source address and in total. Anyone on the network can open connections and then stay
// silent; the caps keep that from holding the process's memory and descriptors, and closing the oldest
// first lets a new, probably live connection in rather than locking everyone out.
//
// Used from one strand only: the listener's, where every admission, closing and release happens.
class WaitingConnections : public std::enable_shared_from_this<WaitingConnections> {
public:
    struct Caps {
        std::size_t perAddress = 16;
        std::size_t total = 256;
    };

    // One waiting connection's place. Giving it up (destruction or release()) leaves the list; a ticket
    // whose connection was closed to make room is already out and releases nothing.
    class Ticket {
    public:
        Ticket() = default;
        Ticket(Ticket&& other) noexcept;
        Ticket& operator=(Ticket&& other) noexcept;
        Ticket(const Ticket&) = delete;
        Ticket& operator=(const Ticket&) = delete;
        ~Ticket() { release(); }

        void release();

    private:
        friend class WaitingConnections;
        Ticket(std::weak_ptr<WaitingConnections> owner, std::uint64_t id) : owner_(std::move(owner)), id_(id) {}

        std::weak_ptr<WaitingConnections> owner_;
        std::uint64_t id_ = 0;
    };

    static std::shared_ptr<WaitingConnections> make(Caps caps);
    explicit WaitingConnections(Caps caps) : caps_(caps) {}

    // Takes a new waiting connection from `source`; `close` ends it and must not call back into this list.
    // When a cap is reached, the oldest waiting connection (of the same address for the per-address cap)
    // is closed first.
    Ticket admit(const asio::ip::address& source, std::function<void()> close);

    std::size_t size() const { return waiting_.size(); }

private:
    struct Waiting {
        std::uint64_t id;
        asio::ip::address source;
        std::function<void()> close;
    };

    void closeOldest(const asio::ip::address* from);
    void remove(std::uint64_t id);

    Caps caps_;
    std::list<Waiting> waiting_;  // oldest first
    std::uint64_t nextId_ = 1;
};

}  // namespace qb::platform
