#include "transfer/TransferError.h"

#include <cerrno>

#include <asio/error.hpp>

#include "l10n/L.h"

namespace qb::transfer {

namespace {

using l10n::L;

class TransferCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "quobblefin.transfer"; }

    std::string message(int value) const override {
        switch (static_cast<TransferErrc>(value)) {
            case TransferErrc::io:
                // The real text travels as TransferError's payload; a bare code has only the generic one.
                return std::generic_category().message(EIO);
            case TransferErrc::remote:
                // The one reason a receiver ever gives is a failed write.
                return L::format(L::t("err.remote"), {L::t("err.writeFail")});
            case TransferErrc::badHeader:
                return L::t("err.badHeader");
            case TransferErrc::connectionClosed:
                return L::t("err.closed");
            case TransferErrc::timeout:
                return L::t("err.timeout");
            case TransferErrc::declined:
                return L::t("err.declined");
            case TransferErrc::identityChanged:
                return L::t("err.identityChanged");
            case TransferErrc::badPeerKey:
                return L::t("err.badPeerKey");
            case TransferErrc::cancelled:
                return L::t("err.cancelled");
        }
        return "unknown transfer error " + std::to_string(value);
    }
};

// The translated text of a system error a person may meet, such as a refused connection or a read-only
// folder; empty for the rest, which keep the system's own wording.
std::string systemErrorText(const std::error_code& code) {
    if (code == asio::error::host_not_found || code == asio::error::host_not_found_try_again) {
        return L::t("addr.hostNotFound");
    }
    // Asio reports socket errors under a system category of its own, with the same errno values.
    const auto& category = code.category();
    if (category != std::system_category() && category != std::generic_category() &&
        category != asio::error::get_system_category()) {
        return {};
    }
    switch (code.value()) {
        case ECONNREFUSED:
            return L::t("err.refused");
        case EHOSTUNREACH:
        case ENETUNREACH:
        case ENETDOWN:
        case EHOSTDOWN:
            return L::t("err.unreachable");
        case ECONNRESET:
        case ECONNABORTED:
        case EPIPE:
            return L::t("err.reset");
        case ETIMEDOUT:
            return L::t("err.timeout");
        case ENOSPC:
        case EDQUOT:
            return L::t("err.noSpace");
        case EACCES:
        case EPERM:
        case EROFS:
            return L::t("err.readOnly");
        default:
            return {};
    }
}

}  // namespace

const std::error_category& transferCategory() noexcept {
    static const TransferCategory category;
    return category;
}

std::error_code make_error_code(TransferErrc errc) noexcept {
    return {static_cast<int>(errc), transferCategory()};
}

TransferError TransferError::io(std::string localisedText) {
    return {make_error_code(TransferErrc::io), std::move(localisedText)};
}

TransferError TransferError::remote(std::string payload) {
    return {make_error_code(TransferErrc::remote), std::move(payload)};
}

TransferError TransferError::of(TransferErrc errc) {
    return {make_error_code(errc), {}};
}

TransferError TransferError::system(std::error_code code) {
    return {code, {}};
}

std::string TransferError::description() const {
    if (is(TransferErrc::io) && !payload_.empty()) {
        return payload_;
    }
    if (is(TransferErrc::remote) && !payload_.empty()) {
        return L::format(L::t("err.remote"), {payload_});
    }
    if (auto text = systemErrorText(code_); !text.empty()) {
        return text;
    }
    return code_.message();
}

}  // namespace qb::transfer
