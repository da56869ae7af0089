#pragma once

// Turning the body of an accepted transfer into files and folders inside the receive folder.

#include <asio/awaitable.hpp>

#include <filesystem>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "platform/Stream.h"
#include "transfer/TransferError.h"
#include "transfer/Wire.h"

namespace qb::transfer {

// The end of one incoming transfer as its owner hears it: the top-level items it made, in the order they
// first appeared in the header, or the one error that ended it (nothing of the transfer is left then).
class ReceiveResult {
public:
    ReceiveResult(std::vector<std::filesystem::path> items) : items_(std::move(items)) {}  // NOLINT: implicit
    ReceiveResult(TransferError error) : error_(std::move(error)) {}                       // NOLINT: implicit

    bool ok() const { return !error_; }
    // Only when ok().
    const std::vector<std::filesystem::path>& items() const { return items_; }
    // Only when !ok().
    const TransferError& error() const { return *error_; }

private:
    std::vector<std::filesystem::path> items_;
    std::optional<TransferError> error_;
};

// How the connection ends after the body, as far as the receiver decides it.
enum class BodyEnding {
    ok,       // everything written: reply "OK\n"
    refused,  // the places for the body could not be prepared: reply "ERR\n"
    failed,   // the stream failed, or a file could not be created, written to its last byte or closed: close at
              // once without a reply
};

struct BodyOutcome {
    BodyEnding ending;
    ReceiveResult result;
};

// Reports during the body; both run on the caller's strand.
struct ReceiveReports {
    std::function<void(const FileHeader&)> onBegin;   // once, when the layout has been prepared
    std::function<void(double fraction)> onProgress;  // after every piece written
};

// Each read asks for at most this much, and never for more than the open file still needs.
inline constexpr std::size_t kReceivePiece = 1'048'576;

// Reads the body that follows `header` on `stream` into `base` and says how the connection should end;
// replying and closing are the caller's. Runs on the stream's strand and writes the files from there.
// Files are written at their final place; on failure every item this transfer made is removed.
asio::awaitable<BodyOutcome> receiveBody(platform::Stream& stream, const FileHeader& header,
                                         const std::filesystem::path& base, const ReceiveReports& reports);

}  // namespace qb::transfer
