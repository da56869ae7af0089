#include "platform/NetError.h"

namespace qb::platform {
namespace {

class NetErrorCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "quobblefin.net"; }

    std::string message(int value) const override {
        switch (static_cast<NetError>(value)) {
            case NetError::peerKeyRejected:
                return "the peer's certificate does not match the expected key";
            case NetError::serviceUnresolvable:
                return "the discovered service could not be resolved to an address";
            case NetError::tlsSetupFailed:
                return "TLS could not be set up";
            case NetError::dnsSdFailed:
                return "the DNS-SD service failed";
        }
        return "unknown network error";
    }
};

}  // namespace

const std::error_category& netErrorCategory() {
    static const NetErrorCategory category;
    return category;
}

}  // namespace qb::platform
