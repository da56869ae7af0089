#include "platform/Printable.h"

#include <cstdint>
#include <cstdio>
#include <optional>

namespace qb::platform {

namespace {

struct Scalar {
    char32_t value;
    std::size_t length;
};

// The UTF-8 sequence at the start of `text`, or nothing when it is not a valid shortest-form one.
std::optional<Scalar> decodeOne(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    const std::uint8_t lead = byte(0);
    std::size_t length = 0;
    char32_t value = 0;
    if (lead < 0x80) {
        return Scalar{lead, 1};
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07u;
    } else {
        return std::nullopt;
    }
    if (text.size() < length) {
        return std::nullopt;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0u) != 0x80u) {
            return std::nullopt;
        }
        value = (value << 6) | (byte(i) & 0x3Fu);
    }
    const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return std::nullopt;
    }
    return Scalar{value, length};
}

bool mustEscape(char32_t value) {
    const bool control = value < 0x20 || (value >= 0x7F && value <= 0x9F);
    const bool bidiControl = value == 0x061C || value == 0x200E || value == 0x200F ||
                             (value >= 0x202A && value <= 0x202E) || (value >= 0x2066 && value <= 0x2069);
    const bool lineBreak = value == 0x2028 || value == 0x2029;
    return control || bidiControl || lineBreak;
}

void appendEscape(std::string& out, const char* format, unsigned value) {
    char escape[12];
    std::snprintf(escape, sizeof escape, format, value);
    out += escape;
}

}  // namespace

std::string printable(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const auto scalar = decodeOne(text);
        if (!scalar) {
            appendEscape(out, "\\x%02x", static_cast<std::uint8_t>(text.front()));
            text.remove_prefix(1);
            continue;
        }
        if (!mustEscape(scalar->value)) {
            out.append(text.substr(0, scalar->length));
        } else if (scalar->value < 0x80) {
            appendEscape(out, "\\x%02x", static_cast<unsigned>(scalar->value));
        } else {
            appendEscape(out, "\\u%04x", static_cast<unsigned>(scalar->value));
        }
        text.remove_prefix(scalar->length);
    }
    return out;
}

}  // namespace qb::platform
