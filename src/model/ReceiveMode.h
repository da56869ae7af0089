#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace qb::model {

// Who may send to this device. Stored and shown by its text form.
enum class ReceiveMode { everyone, known, off };

inline constexpr std::array<ReceiveMode, 3> allReceiveModes{ReceiveMode::everyone, ReceiveMode::known,
                                                            ReceiveMode::off};

constexpr std::string_view toText(ReceiveMode mode) {
    switch (mode) {
        case ReceiveMode::everyone:
            return "everyone";
        case ReceiveMode::known:
            return "known";
        case ReceiveMode::off:
            return "off";
    }
    return "everyone";
}

// The localisation key of the mode's label.
constexpr std::string_view labelKey(ReceiveMode mode) {
    switch (mode) {
        case ReceiveMode::everyone:
            return "receive.everyone";
        case ReceiveMode::known:
            return "receive.known";
        case ReceiveMode::off:
            return "receive.off";
    }
    return "receive.everyone";
}

// Exact, case-sensitive match of a stored text.
constexpr std::optional<ReceiveMode> receiveModeFromText(std::string_view text) {
    for (ReceiveMode mode : allReceiveModes) {
        if (toText(mode) == text) {
            return mode;
        }
    }
    return std::nullopt;
}

}  // namespace qb::model
