// One DNS-SD registration on the shared Avahi client: renamed after collisions, registered again when the
// daemon comes back.
#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>

#include <optional>
#include <string>
#include <utility>

#include "platform/AvahiDnsSd.h"
#include "platform/NetError.h"
#include "platform/detail/AvahiParts.h"

namespace qb::platform::detail {

namespace {

// Bounds the renames of one registration, so that a responder that reports collisions forever cannot spin.
constexpr int kMaxRenames = 32;
// The DNS-SD limit of one TXT entry, "key=value" included.
constexpr std::size_t kTxtEntryMax = 255;

std::error_code avahiFailure() {
    return NetError::dnsSdFailed;
}

// `entry` cut to `limit` bytes without splitting a UTF-8 sequence: the cut backs up to the start of the
// sequence that would straddle it.
std::string cutAtUtf8Boundary(std::string entry, std::size_t limit) {
    if (entry.size() <= limit) {
        return entry;
    }
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(entry[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    entry.resize(cut);
    return entry;
}

StringListPtr txtList(const ServiceAdvertiser::TxtRecord& txt) {
    AvahiStringList* list = nullptr;
    for (const auto& [key, value] : txt) {
        const std::string entry = cutAtUtf8Boundary(key + "=" + value, kTxtEntryMax);
        list = avahi_string_list_add_arbitrary(list, reinterpret_cast<const std::uint8_t*>(entry.data()), entry.size());
    }
    return StringListPtr(avahi_string_list_reverse(list));
}

// One registration. Everything but construction runs with the poll lock held.
class AvahiAdvertiser final : public ServiceAdvertiser, public AvahiParticipant {
public:
    explicit AvahiAdvertiser(std::shared_ptr<AvahiDnsSd> dnsSd) : dnsSd_(std::move(dnsSd)) {
        const PollLock lock(dnsSd_->poll());
        dnsSd_->join(this);
    }

    ~AvahiAdvertiser() override {
        const PollLock lock(dnsSd_->poll());
        dnsSd_->leave(this);
        group_.reset();
    }

    void advertise(Service service, Callbacks callbacks) override {
        const PollLock lock(dnsSd_->poll());
        group_.reset();
        renames_ = 0;
        name_ = service.name;
        service_ = std::move(service);
        callbacks_ = std::move(callbacks);
        if (AvahiClient* client = dnsSd_->runningClient()) {
            publish(client);
        } else if (callbacks_.onFailed) {
            // The listener reports itself by its own name meanwhile; the registration follows the daemon.
            callbacks_.onFailed(avahiFailure());
        }
    }

    void withdraw() override {
        const PollLock lock(dnsSd_->poll());
        service_.reset();
        callbacks_ = {};
        group_.reset();
    }

    void clientRunning(AvahiClient* client) override {
        if (service_ && !group_) {
            publish(client);
        }
    }

    void clientLost() override { group_.reset(); }

private:
    static void onGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self) {
        static_cast<AvahiAdvertiser*>(self)->groupStateChanged(group, state);
    }

    void groupStateChanged(AvahiEntryGroup* group, AvahiEntryGroupState state) {
        switch (state) {
            case AVAHI_ENTRY_GROUP_ESTABLISHED:
                if (callbacks_.onRegistered) {
                    callbacks_.onRegistered(name_);
                }
                return;
            case AVAHI_ENTRY_GROUP_COLLISION:
                // Another host holds the name: take the responder's next alternative and register again.
                avahi_entry_group_reset(group);
                rename();
                publish(avahi_entry_group_get_client(group));
                return;
            case AVAHI_ENTRY_GROUP_FAILURE:
                fail();
                return;
            default:
                return;
        }
    }

    void rename() {
        char* alternative = avahi_alternative_service_name(name_.c_str());
        if (alternative != nullptr) {
            name_ = alternative;
            avahi_free(alternative);
        }
        ++renames_;
    }

    void publish(AvahiClient* client) {
        if (!service_) {
            return;
        }
        if (!group_) {
            group_.reset(avahi_entry_group_new(client, &AvahiAdvertiser::onGroupState, this));
            if (!group_) {
                fail();
                return;
            }
        }
        const auto txt = txtList(service_->txt);
        while (renames_ <= kMaxRenames) {
            const int added = avahi_entry_group_add_service_strlst(
                group_.get(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags{}, name_.c_str(),
                service_->type.c_str(), nullptr, nullptr, service_->port, txt.get());
            if (added == AVAHI_ERR_COLLISION) {
                // A service of this very host already has the name (a second instance, say).
                avahi_entry_group_reset(group_.get());
                rename();
                continue;
            }
            if (added < 0 || avahi_entry_group_commit(group_.get()) < 0) {
                break;
            }
            return;
        }
        fail();
    }

    void fail() {
        if (callbacks_.onFailed) {
            callbacks_.onFailed(avahiFailure());
        }
    }

    const std::shared_ptr<AvahiDnsSd> dnsSd_;
    std::optional<Service> service_;
    Callbacks callbacks_;
    std::string name_;
    int renames_ = 0;
    EntryGroupPtr group_;
};

}  // namespace

std::shared_ptr<ServiceAdvertiser> makeAvahiAdvertiser(std::shared_ptr<AvahiDnsSd> dnsSd) {
    return std::make_shared<AvahiAdvertiser>(std::move(dnsSd));
}

}  // namespace qb::platform::detail
