#pragma once

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include <asio/ip/address_v4.hpp>

#include "identity/Identity.h"
#include "model/ModelTestSupport.h"

namespace qb::test {

// Two models on one machine: a receiver with a key of its own, listening on 127.0.0.1 only, and a sender.
// Each is made on first use, so a test may change its configuration before.
struct TwoDevices {
    TwoDevices() {
        receiving.config.server.options.bindAddress = asio::ip::address_v4::loopback();
        receiving.config.server.options.identity = &receiverIdentity;
    }

    // Starts the receiver; its port once it listens.
    std::uint16_t listen() {
        receiver().start();
        EXPECT_TRUE(waitUntil([&] { return receiver().port() != 0; }));
        return receiver().port();
    }

    model::AppModel& receiver() { return receiving.model ? *receiving.model : receiving.make(); }
    model::AppModel& sender() { return sending.model ? *sending.model : sending.make(); }
    std::string receiverKey() const { return receiverIdentity.ownFingerprint(); }

    TempDir keys;
    identity::Identity receiverIdentity{{false, keys / "keys", keys / "settings.json", nullptr}};
    ModelHarness receiving;
    ModelHarness sending;
};

}  // namespace qb::test
