#pragma once

#include <optional>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>

namespace qb::transfer {

// The transfer protocol's error cases, in their fixed order. As std::error_code values they belong to
// transferCategory() ("quobblefin.transfer"), whose message() is the localised text in the current language.
enum class TransferErrc {
    io = 1,            // local file trouble; the text travels as TransferError's payload
    remote,            // the receiver answered ERR or NO after the body; payload is the reason
    badHeader,         // "err.badHeader"
    connectionClosed,  // "err.closed"
    timeout,           // "err.timeout"
    declined,          // "err.declined"
    identityChanged,   // "err.identityChanged"
    badPeerKey,        // "err.badPeerKey"
    cancelled,         // "err.cancelled": this side's user (or a signal) stopped the transfer
};

}  // namespace qb::transfer

template <>
struct std::is_error_code_enum<qb::transfer::TransferErrc> : std::true_type {};

namespace qb::transfer {

const std::error_category& transferCategory() noexcept;
std::error_code make_error_code(TransferErrc errc) noexcept;

// One delivered failure: a protocol case, possibly with its text payload (io, remote), or any error of the
// network or file system. Becomes text only at the edge, through description().
class TransferError {
public:
    // `localisedText` is shown as it is (e.g. the text of "err.readSource").
    static TransferError io(std::string localisedText);
    // Shown as the text of "err.remote" with `payload` in place of %@.
    static TransferError remote(std::string payload);
    static TransferError of(TransferErrc errc);
    // Any error_code; one of transferCategory() becomes the matching case without payload.
    static TransferError system(std::error_code code);

    TransferError(TransferErrc errc) : TransferError(of(errc)) {}  // NOLINT: implicit on purpose

    std::error_code code() const { return code_; }
    // Payload of io and remote; empty otherwise.
    const std::string& payload() const { return payload_; }
    bool is(TransferErrc errc) const { return code_ == make_error_code(errc); }

    // The user-facing text in the current language.
    std::string description() const;

    friend bool operator==(const TransferError&, const TransferError&) = default;

private:
    TransferError(std::error_code code, std::string payload) : code_(code), payload_(std::move(payload)) {}

    std::error_code code_;
    std::string payload_;
};

// The outcome handed once to a completion callback of the sender, the server and the model: success, or
// one TransferError. Default-constructed is success; a TransferError or TransferErrc converts to failure.
//     completion(TransferResult{});                       // success
//     completion(TransferError::io(L::t("err.readSource")));
//     if (!result.ok()) show(result.error().description());
class TransferResult {
public:
    TransferResult() = default;
    TransferResult(TransferError error) : error_(std::move(error)) {}               // NOLINT: implicit
    TransferResult(TransferErrc errc) : TransferResult(TransferError::of(errc)) {}  // NOLINT: implicit

    static TransferResult success() { return {}; }

    bool ok() const { return !error_; }
    // Only when !ok().
    const TransferError& error() const { return *error_; }

private:
    std::optional<TransferError> error_;
};

}  // namespace qb::transfer
