#pragma once

// The rules that turn browse results into the list of peers, without any I/O: reading the TXT entries, the
// generation and key rules, dropping this device's own advertisement, one entry per service name, and the
// order in which every view lists peers.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "discovery/Peer.h"
#include "platform/ServiceBrowser.h"

namespace qb::discovery {

// The value of `key` among raw TXT entries: keys compare case-insensitively and the first entry of a key wins;
// an entry without "=" has an empty value. A value that is not UTF-8 counts as absent.
std::optional<std::string> txtValue(const std::vector<std::string>& entries, std::string_view key);

// A decimal integer with an optional sign; anything else (empty, other characters, overflow) gives 2.
int generationFrom(const std::optional<std::string>& text);

// The peer one result stands for; nullopt when its "k" is `ownKey` (this device under another name).
std::optional<Peer> peerFrom(const platform::ServiceBrowser::Result& result, const std::optional<std::string>& ownKey);

// Sorts by name, case-insensitively in the collation of `lang` (a BCP 47 tag); equal names keep their order.
void sortByName(std::vector<Peer>& peers, const std::string& lang);

struct OwnDevice {
    std::optional<std::string> registeredName;
    std::optional<std::string> key;
};

// The whole list from one result set: own advertisement dropped, one entry per service name, sorted.
std::vector<Peer> peerList(const std::vector<platform::ServiceBrowser::Result>& results, const OwnDevice& own,
                           const std::string& lang);

}  // namespace qb::discovery
