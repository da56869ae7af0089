#pragma once

// Owning handles for the Avahi client library's objects. Each is freed with the poll's lock held (or before
// the poll thread runs), which the owners of these handles see to.

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-client/publish.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>

#include <memory>

namespace qb::platform::detail {

template <auto Free>
struct AvahiDeleter {
    template <typename T>
    void operator()(T* handle) const {
        if (handle != nullptr) {
            Free(handle);
        }
    }
};

using ThreadedPollPtr = std::unique_ptr<AvahiThreadedPoll, AvahiDeleter<avahi_threaded_poll_free>>;
using ClientPtr = std::unique_ptr<AvahiClient, AvahiDeleter<avahi_client_free>>;
using EntryGroupPtr = std::unique_ptr<AvahiEntryGroup, AvahiDeleter<avahi_entry_group_free>>;
using ServiceBrowserPtr = std::unique_ptr<AvahiServiceBrowser, AvahiDeleter<avahi_service_browser_free>>;
using ServiceResolverPtr = std::unique_ptr<AvahiServiceResolver, AvahiDeleter<avahi_service_resolver_free>>;
using StringListPtr = std::unique_ptr<AvahiStringList, AvahiDeleter<avahi_string_list_free>>;

// Holds the poll's lock for one scope. Never from the poll thread itself: its callbacks already hold it.
class PollLock {
public:
    explicit PollLock(AvahiThreadedPoll* poll) : poll_(poll) { avahi_threaded_poll_lock(poll_); }
    ~PollLock() { avahi_threaded_poll_unlock(poll_); }
    PollLock(const PollLock&) = delete;
    PollLock& operator=(const PollLock&) = delete;

private:
    AvahiThreadedPoll* poll_;
};

}  // namespace qb::platform::detail
