#include "discovery/PeerRecord.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <set>

namespace qb::discovery {

namespace {

constexpr int kNoGeneration = 2;
constexpr int kFirstKeyedGeneration = 4;
constexpr std::size_t kFingerprintLength = 64;

bool sameKey(std::string_view left, std::string_view right) {
    return std::equal(left.begin(), left.end(), right.begin(), right.end(), [](char a, char b) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        return lower(a) == lower(b);
    });
}

bool isUtf8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t offset = 0;
    while (offset < length) {
        UChar32 scalar = 0;
        U8_NEXT(bytes, offset, length, scalar);
        if (scalar < 0) {
            return false;
        }
    }
    return true;
}

std::unique_ptr<icu::Collator> caseInsensitiveCollator(const std::string& lang) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(
        icu::Collator::createInstance(icu::Locale::forLanguageTag(lang, status), status));
    if (U_FAILURE(status) || !collator) {
        status = U_ZERO_ERROR;
        collator.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
    }
    if (collator) {
        // Secondary strength tells accents apart but not case.
        collator->setStrength(icu::Collator::SECONDARY);
    }
    return collator;
}

}  // namespace

std::optional<std::string> txtValue(const std::vector<std::string>& entries, std::string_view key) {
    for (const auto& entry : entries) {
        const std::size_t equals = entry.find('=');
        const std::string_view entryKey = std::string_view(entry).substr(0, equals);
        if (!sameKey(entryKey, key)) {
            continue;
        }
        std::string value = equals == std::string::npos ? std::string() : entry.substr(equals + 1);
        if (!isUtf8(value)) {
            return std::nullopt;
        }
        return value;
    }
    return std::nullopt;
}

int generationFrom(const std::optional<std::string>& text) {
    if (!text || text->empty()) {
        return kNoGeneration;
    }
    std::string_view digits = *text;
    if (digits.starts_with('+')) {
        digits.remove_prefix(1);
    }
    int generation = 0;
    const char* end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, generation);
    if (digits.empty() || error != std::errc{} || stop != end) {
        return kNoGeneration;
    }
    return generation;
}

std::optional<Peer> peerFrom(const platform::ServiceBrowser::Result& result, const std::optional<std::string>& ownKey) {
    Peer peer;
    peer.serviceName = result.endpoint.name;
    peer.endpoint = result.endpoint;
    peer.name = peer.serviceName;
    if (!result.txt) {
        return peer;
    }
    const auto& entries = *result.txt;
    peer.proto = generationFrom(txtValue(entries, "v"));
    if (auto name = txtValue(entries, "n"); name && !name->empty()) {
        peer.name = std::move(*name);
    }
    auto key = txtValue(entries, "k");
    if (key && key->size() == kFingerprintLength) {
        if (ownKey && *ownKey == *key) {
            return std::nullopt;
        }
        if (peer.proto >= kFirstKeyedGeneration) {
            peer.key = std::move(*key);
        }
    }
    return peer;
}

void sortByName(std::vector<Peer>& peers, const std::string& lang) {
    const auto collator = caseInsensitiveCollator(lang);
    if (!collator) {
        return;
    }
    std::stable_sort(peers.begin(), peers.end(), [&collator](const Peer& left, const Peer& right) {
        UErrorCode status = U_ZERO_ERROR;
        const auto order = collator->compare(icu::UnicodeString::fromUTF8(left.name),
                                             icu::UnicodeString::fromUTF8(right.name), status);
        return U_SUCCESS(status) && order == UCOL_LESS;
    });
}

std::vector<Peer> peerList(const std::vector<platform::ServiceBrowser::Result>& results, const OwnDevice& own,
                           const std::string& lang) {
    std::vector<Peer> peers;
    std::set<std::string> seen;
    for (const auto& result : results) {
        const std::string& serviceName = result.endpoint.name;
        if (own.registeredName == serviceName || !seen.insert(serviceName).second) {
            continue;
        }
        if (auto peer = peerFrom(result, own.key)) {
            peers.push_back(std::move(*peer));
        }
    }
    sortByName(peers, lang);
    return peers;
}

}  // namespace qb::discovery
