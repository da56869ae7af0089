#include "transfer/Receiver.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "l10n/L.h"
#include "platform/FileWrite.h"
#include "transfer/ReceiverLayout.h"

namespace qb::transfer {

namespace fs = std::filesystem;
using l10n::L;
using platform::Bytes;
using platform::Stream;

namespace {

TransferError networkFailure(std::error_code error) {
    if (error == asio::error::eof) {
        return TransferErrc::connectionClosed;
    }
    return TransferError::system(error);
}

// False when the file system of `base` has less room for unprivileged writers than the header announces.
// When the free space cannot be learnt, the writes themselves find out.
bool fitsIn(const fs::path& base, std::int64_t size) {
    std::error_code unknown;
    const auto space = fs::space(base, unknown);
    return unknown || size <= 0 || static_cast<std::uintmax_t>(size) <= space.available;
}

// Why a body ended early, and how the connection ends for it.
struct BodyFailure {
    BodyFailure(BodyEnding endingOfIt, TransferError errorOfIt) : ending(endingOfIt), error(std::move(errorOfIt)) {}

    BodyEnding ending;
    TransferError error;
};

// A file that could not be written, to its last byte and its close. The places were prepared and the sender
// was already told to go on, so the connection ends without a reply, like any failure while writing.
BodyFailure writeFailure(std::error_code error) {
    return {BodyEnding::failed, TransferError::system(error)};
}

// The body of one transfer, file after file of the layout's plan.
class BodyReceipt {
public:
    BodyReceipt(Stream& stream, ReceiverLayout& layout, const ReceiveReports& reports)
        : stream_(stream), layout_(layout), reports_(reports), total_(std::max<std::int64_t>(layout.total(), 1)) {}

    asio::awaitable<std::optional<BodyFailure>> receiveAll() {
        for (const auto& file : layout_.plan()) {
            if (auto failure = co_await receiveFile(file)) {
                co_return failure;
            }
        }
        co_return std::nullopt;
    }

private:
    asio::awaitable<std::optional<BodyFailure>> receiveFile(const PlannedFile& file) {
        UniqueFd out = layout_.create(file);
        if (!out) {
            co_return BodyFailure(BodyEnding::failed, TransferError::io(L::t("err.createFile")));
        }
        for (std::int64_t remaining = file.count; remaining > 0;) {
            const auto pieceSize = static_cast<std::size_t>(std::min<std::int64_t>(remaining, kReceivePiece));
            if (buffer_.size() < pieceSize) {
                buffer_.resize(static_cast<std::size_t>(std::min<std::int64_t>(kReceivePiece, total_)));
            }
            const std::span<std::uint8_t> piece(buffer_.data(), pieceSize);
            // One write per filled piece, whatever size the network delivers in.
            if (const auto [error, size] = co_await stream_.readFull(piece); error) {
                co_return BodyFailure(BodyEnding::failed, networkFailure(error));
            }
            if (const auto error = platform::writeAll(out.get(), piece)) {
                co_return writeFailure(error);
            }
            remaining -= static_cast<std::int64_t>(pieceSize);
            received_ += static_cast<std::int64_t>(pieceSize);
            if (reports_.onProgress) {
                reports_.onProgress(static_cast<double>(received_) / static_cast<double>(total_));
            }
        }
        // Some file systems (network ones, some full disks) report a failed write only when the file closes.
        if (const auto error = out.close()) {
            co_return writeFailure(error);
        }
        co_return std::nullopt;
    }

    Stream& stream_;
    ReceiverLayout& layout_;
    const ReceiveReports& reports_;
    const std::int64_t total_;
    std::int64_t received_ = 0;
    Bytes buffer_;  // one piece, reused for every file
};

}  // namespace

asio::awaitable<BodyOutcome> receiveBody(Stream& stream, const FileHeader& header, const fs::path& base,
                                         const ReceiveReports& reports) {
    std::error_code ignored;
    fs::create_directories(base, ignored);
    if (!fitsIn(base, header.size)) {
        co_return BodyOutcome{BodyEnding::refused, TransferError::io(L::t("err.noSpace"))};
    }
    ReceiverLayout layout(base);
    if (const auto prepared = layout.prepare(header); prepared != ReceiverLayout::Prepared::ready) {
        layout.removeMade();
        const bool folder = prepared == ReceiverLayout::Prepared::folderFailed;
        co_return BodyOutcome{BodyEnding::refused,
                              TransferError::io(L::t(folder ? "err.createFolder" : "err.createFile"))};
    }
    if (reports.onBegin) {
        reports.onBegin(header);
    }
    if (layout.passesThroughLink()) {
        // Only folders exist at this point, all of them ours.
        layout.removeMade();
        co_return BodyOutcome{BodyEnding::refused, TransferError::io(L::t("err.createFile"))};
    }
    BodyReceipt receipt(stream, layout, reports);
    if (auto failure = co_await receipt.receiveAll()) {
        layout.removeMade();
        co_return BodyOutcome{failure->ending, std::move(failure->error)};
    }
    co_return BodyOutcome{BodyEnding::ok, layout.keepMade()};
}

}  // namespace qb::transfer
