// A TXT record as the responder hands it over: entries of one length byte and that many bytes. Whatever they
// hold, the peer made from them keeps the generation and key rules, and the list never holds this device.

#include <string>
#include <vector>

#include "FuzzTarget.h"
#include "discovery/PeerRecord.h"

namespace {

std::vector<std::string> txtEntries(std::string_view record) {
    std::vector<std::string> entries;
    while (!record.empty()) {
        const auto length = std::min<std::size_t>(static_cast<unsigned char>(record.front()), record.size() - 1);
        entries.emplace_back(record.substr(1, length));
        record.remove_prefix(1 + length);
    }
    return entries;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qb;
    const platform::ServiceBrowser::Result result{
        platform::ServiceEndpoint("service", "_quobblefin._tcp", "local"),
        txtEntries(fuzz::text(data, size)),
    };
    const std::string ownKey(64, 'a');
    const auto peer = discovery::peerFrom(result, ownKey);
    if (peer) {
        fuzz::require(!peer->name.empty());
        fuzz::require(!peer->key || (peer->proto >= 4 && peer->key->size() == 64 && *peer->key != ownKey));
    }
    const auto list = discovery::peerList({result, result}, {.registeredName = std::nullopt, .key = ownKey}, "en");
    fuzz::require(list.size() <= 1);
    return 0;
}
