#include "transfer/Wire.h"

#include <algorithm>
#include <limits>

#include <nlohmann/json.hpp>

namespace qb::transfer {

namespace {

using nlohmann::json;
using platform::Bytes;
using platform::ByteView;

constexpr std::size_t kAsciiNameMaxLength = 60;

// Integers must be JSON integers that fit the field; 5.0, "5" and 2^63 are refused.
template <class Int>
bool readInteger(const json& value, Int& out) {
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<Int>::max())) {
            return false;
        }
        out = static_cast<Int>(number);
        return true;
    }
    if (value.is_number_integer()) {
        const auto number = value.get<std::int64_t>();
        if (number < std::numeric_limits<Int>::min() || number > std::numeric_limits<Int>::max()) {
            return false;
        }
        out = static_cast<Int>(number);
        return true;
    }
    return false;
}

bool readString(const json& value, std::string& out) {
    if (!value.is_string()) {
        return false;
    }
    out = value.get<std::string>();
    return true;
}

bool readBool(const json& value, bool& out) {
    if (!value.is_boolean()) {
        return false;
    }
    out = value.get<bool>();
    return true;
}

// A missing or null key leaves `out` as it is; a present one must read.
template <class Reader, class T>
bool readOptional(const json& object, const char* key, Reader read, T& out) {
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) {
        return true;
    }
    return read(*found, out);
}

bool readOptionalString(const json& value, std::optional<std::string>& out) {
    std::string text;
    if (!readString(value, text)) {
        return false;
    }
    out = std::move(text);
    return true;
}

std::optional<FileEntry> decodeEntry(const json& value) {
    if (!value.is_object() || !value.contains("p") || !value.contains("s")) {
        return std::nullopt;
    }
    FileEntry entry;
    if (!readString(value["p"], entry.p) || !readInteger(value["s"], entry.s) ||
        !readOptional(value, "d", readBool, entry.d)) {
        return std::nullopt;
    }
    return entry;
}

bool readEntries(const json& object, std::optional<std::vector<FileEntry>>& out) {
    const auto found = object.find("files");
    if (found == object.end() || found->is_null()) {
        return true;
    }
    if (!found->is_array()) {
        return false;
    }
    std::vector<FileEntry> entries;
    entries.reserve(found->size());
    for (const auto& value : *found) {
        auto entry = decodeEntry(value);
        if (!entry) {
            return false;
        }
        entries.push_back(std::move(*entry));
    }
    out = std::move(entries);
    return true;
}

json encodeEntry(const FileEntry& entry) {
    json value = {{"p", entry.p}, {"s", entry.s}};
    if (entry.d) {
        value["d"] = true;
    }
    return value;
}

}  // namespace

std::string Wire::encodeHeader(const FileHeader& header) {
    json object = {{"v", header.v}, {"name", header.name}, {"size", header.size}, {"from", header.from}};
    if (header.files) {
        json entries = json::array();
        for (const auto& entry : *header.files) {
            entries.push_back(encodeEntry(entry));
        }
        object["files"] = std::move(entries);
    }
    if (header.batch) {
        object["batch"] = true;
    }
    if (header.cert) {
        object["cert"] = *header.cert;
    }
    if (header.sig) {
        object["sig"] = *header.sig;
    }
    if (header.pair) {
        object["pair"] = true;
    }
    // File names on Linux need not be UTF-8; replacing bad bytes keeps encoding total instead of throwing.
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

Bytes Wire::encodePrefix(const FileHeader& header) {
    const std::string body = encodeHeader(header);
    const auto length = static_cast<std::uint32_t>(body.size());
    Bytes prefix(magic.begin(), magic.end());
    for (int shift = 24; shift >= 0; shift -= 8) {
        prefix.push_back(static_cast<std::uint8_t>(length >> shift));
    }
    prefix.insert(prefix.end(), body.begin(), body.end());
    return prefix;
}

std::optional<std::uint32_t> Wire::parsePrefix(ByteView prefix) {
    if (prefix.size() != kPrefixLength || !std::equal(magic.begin(), magic.end(), prefix.begin())) {
        return std::nullopt;
    }
    std::uint32_t length = 0;
    for (std::size_t index = magic.size(); index < kPrefixLength; ++index) {
        length = (length << 8) | prefix[index];
    }
    if (length == 0 || length > kMaxHeaderLength) {
        return std::nullopt;
    }
    return length;
}

std::optional<FileHeader> Wire::decodeHeader(ByteView bytes) {
    const json object = json::parse(bytes.begin(), bytes.end(), nullptr, /*allow_exceptions=*/false);
    if (!object.is_object()) {
        return std::nullopt;
    }
    for (const char* key : {"v", "name", "size", "from"}) {
        if (!object.contains(key)) {
            return std::nullopt;
        }
    }
    FileHeader header;
    const bool decoded = readInteger(object["v"], header.v) && readString(object["name"], header.name) &&
                         readInteger(object["size"], header.size) && readString(object["from"], header.from) &&
                         readEntries(object, header.files) && readOptional(object, "batch", readBool, header.batch) &&
                         readOptional(object, "cert", readOptionalString, header.cert) &&
                         readOptional(object, "sig", readOptionalString, header.sig) &&
                         readOptional(object, "pair", readBool, header.pair);
    if (!decoded) {
        return std::nullopt;
    }
    return header;
}

std::string Wire::asciiName(std::string_view name) {
    // Working on bytes gives the same result as walking scalars: in UTF-8 a byte below 0x80 is always a whole
    // scalar, and every byte of a longer (or invalid) sequence is 0x80 or above, so each run of them turns
    // into spaces that collapse into one.
    std::string result;
    result.reserve(name.size());
    for (const char byte : name) {
        const auto code = static_cast<unsigned char>(byte);
        const char kept = (code >= 0x20 && code <= 0x7E) ? byte : ' ';
        if (kept == ' ' && (result.empty() || result.back() == ' ')) {
            continue;  // collapses runs and drops leading spaces
        }
        result.push_back(kept);
    }
    if (!result.empty() && result.back() == ' ') {
        result.pop_back();
    }
    if (result.empty()) {
        return "Device";
    }
    if (result.size() > kAsciiNameMaxLength) {
        result.resize(kAsciiNameMaxLength);
    }
    return result;
}

}  // namespace qb::transfer
