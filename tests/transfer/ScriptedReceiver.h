#pragma once

// A receiver that follows a fixed script instead of deciding anything, so sender tests control every reply byte
// and see every byte the sender wrote.

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/post.hpp>

#include <array>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Acceptor.h"
#include "platform/NetRuntime.h"
#include "transfer/Wire.h"

namespace qb::test {

struct ReceiverScript {
    enum class End {
        drain,  // read until the sender closes, counting any bytes it still sends
        close,  // close at once
        hold,   // keep the connection open and say nothing more
    };
    bool readHeader = true;               // false: accept and go straight to `end`
    std::string answerToHeader = "GO\n";  // written after the header; empty: no answer
    bool readBody = true;                 // read the header's `size` bytes after the answer
    std::string answerToBody = "OK\n";    // empty: no answer
    End end = End::drain;
};

struct ReceivedTransfer {
    std::optional<transfer::FileHeader> header;
    platform::Bytes body;
    std::error_code bodyError;
    std::size_t strayBytes = 0;  // bytes the sender wrote beyond what the script read
};

class ScriptedReceiver {
public:
    explicit ScriptedReceiver(ReceiverScript script, platform::TlsContext tls = {}) : script_(std::move(script)) {
        platform::Acceptor::Options options;
        options.bindAddress = asio::ip::make_address("127.0.0.1");
        options.tls = std::move(tls);
        auto opened = platform::Acceptor::open(runtime_.executor(), options);
        if (opened.error)
            throw std::system_error(opened.error);
        acceptor_ = opened.acceptor;
        acceptor_->start([this](platform::Stream stream) {
            {
                const std::lock_guard lock(mutex_);
                ++connections_;
            }
            asio::co_spawn(runtime_.executor(), serve(std::move(stream)), asio::detached);
        });
    }

    ~ScriptedReceiver() {
        asio::post(runtime_.executor(), [acceptor = acceptor_] { acceptor->cancel(); });
        runtime_.stop();
    }

    std::uint16_t port() const { return acceptor_->port(); }

    // Connections that reached the script (for TLS: that completed the handshake).
    int connections() {
        const std::lock_guard lock(mutex_);
        return connections_;
    }

    // The first connection's record once its script has ended.
    std::optional<ReceivedTransfer> wait(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, limit, [this] { return received_.has_value(); });
        return received_;
    }

private:
    asio::awaitable<void> serve(platform::Stream stream) {
        using namespace std::chrono_literals;
        ReceivedTransfer seen;
        if (script_.readHeader) {
            auto prefix = co_await stream.readExactly(transfer::Wire::kPrefixLength, 5s);
            const auto length = transfer::Wire::parsePrefix(prefix.bytes);
            if (length) {
                auto json = co_await stream.readExactly(*length, 5s);
                seen.header = transfer::Wire::decodeHeader(json.bytes);
            }
            if (!script_.answerToHeader.empty())
                co_await stream.writeAll(platform::asBytes(script_.answerToHeader), 5s);
            if (seen.header && script_.readBody && seen.header->size > 0) {
                auto body = co_await stream.readExactly(static_cast<std::size_t>(seen.header->size), 10s);
                seen.body = std::move(body.bytes);
                seen.bodyError = body.error;
            }
            if (!script_.answerToBody.empty())
                co_await stream.writeAll(platform::asBytes(script_.answerToBody), 5s);
        }
        if (script_.end == ReceiverScript::End::drain)
            seen.strayBytes = co_await drain(stream);
        else if (script_.end == ReceiverScript::End::hold)
            held_.push_back(std::move(stream));
        else
            stream.close();
        const std::lock_guard lock(mutex_);
        if (!received_)
            received_ = std::move(seen);
        changed_.notify_all();
    }

    static asio::awaitable<std::size_t> drain(platform::Stream& stream) {
        using namespace std::chrono_literals;
        std::size_t count = 0;
        std::array<std::uint8_t, 65536> buffer{};
        for (int reads = 0; reads < 100'000; ++reads) {
            const auto read = co_await stream.readSome(buffer, 5s);
            if (read.error)
                break;
            count += read.size;
        }
        co_return count;
    }

    ReceiverScript script_;
    platform::NetRuntime runtime_{1};  // one thread: the acceptor and every script run in order
    std::shared_ptr<platform::Acceptor> acceptor_;
    std::vector<platform::Stream> held_;  // touched only on the runtime's thread
    std::mutex mutex_;
    std::condition_variable changed_;
    int connections_ = 0;
    std::optional<ReceivedTransfer> received_;
};

}  // namespace qb::test
