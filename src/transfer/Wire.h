#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Bytes.h"

namespace qb::transfer {

// One item of a folder or multi-item transfer, in body order.
struct FileEntry {
    std::string p{};     // relative path, "/" between components, no leading "/"
    std::int64_t s = 0;  // size in bytes; 0 for a folder
    bool d = false;      // a folder to create; written only when true

    friend bool operator==(const FileEntry&, const FileEntry&) = default;
};

// The JSON header that opens every transfer and pairing request. Optional keys are left out of the JSON
// when absent (`files`, `cert`, `sig`) or false (`batch`, `pair`).
struct FileHeader {
    int v = 0;              // protocol generation: Wire::generationTls, generationWaits or generationNoWait
    std::string name{};     // display name of what is sent
    std::int64_t size = 0;  // total body bytes; may arrive negative, see Wire::hasNegativeSize
    std::string from{};     // sender's device name
    std::optional<std::vector<FileEntry>> files{};  // folder or several items
    bool batch = false;                             // several named items at the top level of `files`
    std::optional<std::string> cert{};              // standard Base64 of the sender's DER certificate
    std::optional<std::string> sig{};               // standard Base64 of the sender's signature
    bool pair = false;                              // a pairing request

    friend bool operator==(const FileHeader&, const FileHeader&) = default;
};

// The bytes on a transfer connection: header prefix "QBLF" + u32 big-endian length + JSON header, then
// reply lines from the receiver and the raw body from the sender.
class Wire {
public:
    static constexpr std::array<std::uint8_t, 4> magic{0x51, 0x42, 0x4C, 0x46};  // "QBLF"
    static constexpr std::size_t kPrefixLength = 8;                              // magic + length
    static constexpr std::uint32_t kMaxHeaderLength = 1'048'575;                 // below 2^20
    static constexpr std::size_t kMaxBodyPiece = 1'048'576;  // largest piece a sender writes at once

    // Protocol generations (the header's `v` and the TXT entry "v").
    static constexpr int generationTls = 5;     // TLS 1.3, pinned key, signed header; answered GO/NO
    static constexpr int generationWaits = 3;   // plain TCP; the receiver answers the header GO/NO
    static constexpr int generationNoWait = 2;  // plain TCP; no answer to the header

    // The only bytes a receiver ever writes.
    static constexpr std::string_view replyGo = "GO\n";
    static constexpr std::string_view replyNo = "NO\n";
    static constexpr std::string_view replyOk = "OK\n";
    static constexpr std::string_view replyErr = "ERR\n";

    // Compact JSON of the header. Texts that are not valid UTF-8 have their bad bytes replaced by U+FFFD.
    static std::string encodeHeader(const FileHeader& header);

    // magic + big-endian length + encodeHeader(header), ready to write in one piece. The length is not
    // checked against kMaxHeaderLength: that bound is the receiver's.
    static platform::Bytes encodePrefix(const FileHeader& header);

    // The header length announced by the first kPrefixLength bytes, or nullopt when the input is not exactly
    // kPrefixLength bytes, the magic is wrong, or the length is 0 or above kMaxHeaderLength.
    static std::optional<std::uint32_t> parsePrefix(platform::ByteView prefix);

    // The header, or nullopt unless `json` is one JSON object with `v`, `name`, `size`, `from` (and `p`, `s`
    // in every entry) of the right JSON types. Integers must be JSON integers that fit their field; a
    // present optional key of the wrong type refuses the header, a null one counts as absent. Unknown keys
    // are ignored. Never throws.
    static std::optional<FileHeader> decodeHeader(platform::ByteView json);

    // A negative total size is refused by the receiver (closed without a reply).
    static bool hasNegativeSize(const FileHeader& header) { return header.size < 0; }

    // The ASCII form of a device name for the advertised service name: each Unicode scalar outside
    // U+0020..U+007E (and each byte of invalid UTF-8) becomes a space, runs of spaces collapse to one, the
    // ends are trimmed, the result is cut to 60 characters; "Device" when nothing is left.
    static std::string asciiName(std::string_view name);
};

}  // namespace qb::transfer
