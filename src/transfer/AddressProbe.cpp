#include "transfer/AddressProbe.h"

#include <asio/co_spawn.hpp>
#include <asio/ssl/error.hpp>

#include <array>
#include <exception>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "identity/Identity.h"
#include "l10n/L.h"
#include "platform/Connect.h"
#include "platform/NetRuntime.h"
#include "transfer/Wire.h"

namespace qb::transfer {

namespace {

using l10n::L;

class AddressCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "quobblefin.address"; }

    std::string message(int value) const override {
        switch (static_cast<AddressErrc>(value)) {
            case AddressErrc::hostNotFound:
                return L::t("addr.hostNotFound");
            case AddressErrc::refused:
                return L::t("addr.refused");
            case AddressErrc::timedOut:
                return L::t("addr.timeout");
            case AddressErrc::notQuobblefin:
                return L::t("addr.notQuobblefin");
            case AddressErrc::plainListener:
                return L::t("addr.plain");
            case AddressErrc::thisDevice:
                return L::t("addr.self");
        }
        return "unknown address error " + std::to_string(value);
    }
};

// Failures that say nothing about what listens there, only that we could not get to it.
std::optional<std::error_code> unreachable(std::error_code error) {
    if (error.category() == asio::error::get_netdb_category() ||
        error.category() == asio::error::get_addrinfo_category())
        return AddressErrc::hostNotFound;
    if (error == asio::error::connection_refused)
        return AddressErrc::refused;
    if (error == asio::error::timed_out || error == asio::error::host_unreachable ||
        error == asio::error::network_unreachable)
        return AddressErrc::timedOut;
    return std::nullopt;
}

// Writes `header` unsigned and reads the first reply, bounded by `limit`: "GO" or "NO" come only from ours.
asio::awaitable<bool> answersLikeOurs(platform::Stream& stream, const FileHeader& header, platform::Duration limit) {
    if (co_await stream.writeAll(Wire::encodePrefix(header), limit))
        co_return false;
    std::string reply;
    std::array<std::uint8_t, 16> buffer{};
    for (int reads = 0; reads < 4 && reply.size() < 2; ++reads) {
        const auto read = co_await stream.readSome(buffer, limit);
        if (read.error)
            break;
        reply.append(reinterpret_cast<const char*>(buffer.data()), read.size);
    }
    co_return reply.starts_with("NO") || reply.starts_with("GO");
}

FileHeader probeHeader(int generation, bool pair) {
    FileHeader header;
    header.v = generation;
    header.name = pair ? "pair" : "probe";
    header.pair = pair;
    return header;
}

// Without TLS: our keyless listener refuses an unsigned pairing header at once (or lets it through when it
// accepts everything), and in neither case shows its user anything.
asio::awaitable<ProbeResult> probePlain(platform::HostPort address, const ProbeTimings& timings) {
    auto connected = co_await platform::connect(std::move(address), std::nullopt, timings.connect);
    if (connected.error)
        co_return ProbeResult{unreachable(connected.error).value_or(AddressErrc::notQuobblefin), {}};
    const bool ours =
        co_await answersLikeOurs(connected.stream, probeHeader(Wire::generationWaits, true), timings.reply);
    connected.stream.close();
    co_return ProbeResult{ours ? AddressErrc::plainListener : AddressErrc::notQuobblefin, {}};
}

asio::awaitable<ProbeResult> probe(platform::HostPort address, ProbeTimings timings) {
    auto shown = std::make_shared<std::string>();
    // Every certificate is let through: this connection only reads the key, it trusts nothing it is told.
    platform::PinnedTls readKey([shown](platform::ByteView leafDer) {
        *shown = identity::Identity::fingerprint(leafDer);
        return true;
    });
    auto connected = co_await platform::connect(address, std::move(readKey), timings.connect);
    if (connected.error) {
        if (const auto cause = unreachable(connected.error))
            co_return ProbeResult{*cause, {}};
        co_return co_await probePlain(std::move(address), timings);
    }
    const bool ours =
        co_await answersLikeOurs(connected.stream, probeHeader(Wire::generationTls, false), timings.reply);
    connected.stream.close();
    if (!ours || shown->empty())
        co_return ProbeResult{AddressErrc::notQuobblefin, {}};
    co_return ProbeResult{{}, *shown};
}

}  // namespace

const std::error_category& addressCategory() noexcept {
    static const AddressCategory category;
    return category;
}

std::error_code make_error_code(AddressErrc errc) noexcept {
    return {static_cast<int>(errc), addressCategory()};
}

void probeAddress(platform::HostPort address, std::function<void(ProbeResult)> done,
                  const ProbeEnvironment& environment) {
    auto& runtime = environment.runtime != nullptr ? *environment.runtime : platform::NetRuntime::shared();
    asio::co_spawn(runtime.makeStrand(), probe(std::move(address), environment.timings),
                   [done = std::move(done)](std::exception_ptr failure, ProbeResult result) {
                       if (failure)
                           result = ProbeResult{AddressErrc::notQuobblefin, {}};
                       if (done)
                           done(std::move(result));
                   });
}

}  // namespace qb::transfer
