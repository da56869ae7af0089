#include "transfer/TransferError.h"

#include <string>
#include <utility>

#include <asio/error.hpp>

#include <gtest/gtest.h>

#include "l10n/L.h"
#include "transfer/AddressProbe.h"

namespace qb::transfer {
namespace {

using l10n::L;

class TransferErrorTest : public ::testing::Test {
protected:
    void SetUp() override { L::setLang("en"); }
    void TearDown() override { L::setLang("en"); }
};

TEST_F(TransferErrorTest, EachCaseShowsItsEnglishText) {
    const std::pair<TransferErrc, const char*> cases[] = {
        {TransferErrc::badHeader, "The incoming data is malformed"},
        {TransferErrc::connectionClosed, "Connection closed before the transfer finished"},
        {TransferErrc::timeout, "Could not reach the destination (timed out)"},
        {TransferErrc::declined, "The other device declined (or did not answer)"},
        {TransferErrc::identityChanged,
         "This device's security key has changed — clear trusted devices in Settings to send again"},
        {TransferErrc::badPeerKey, "Could not verify the destination's identity"},
        {TransferErrc::cancelled, "Cancelled"},
    };
    for (const auto& [errc, text] : cases) {
        EXPECT_EQ(TransferError::of(errc).description(), text);
        EXPECT_EQ(std::error_code(errc).message(), text);
    }
    // Payloads are the text of io and the tail of remote.
    EXPECT_EQ(TransferError::remote(L::t("err.writeFail")).description(), "Destination refused: Write failed");
    EXPECT_EQ(TransferError::io("Cannot read the source file").description(), "Cannot read the source file");
    // A text follows the language at the time it is shown, not when the error was made.
    const auto error = TransferError::of(TransferErrc::timeout);
    L::setLang("de");
    EXPECT_EQ(error.description(), L::t("err.timeout"));
    EXPECT_NE(error.description(), "Could not reach the destination (timed out)");
}

TEST_F(TransferErrorTest, SystemErrorsKeepTheirCodeAndTheCommonOnesReadTranslated) {
    const auto refused = std::make_error_code(std::errc::connection_refused);
    const auto system = TransferError::system(refused);
    EXPECT_EQ(system.code(), refused);
    EXPECT_FALSE(system.is(TransferErrc::io));
    // The system errors a person meets read in the interface's language; the rest keep the system's text.
    const std::pair<std::error_code, std::string> texts[] = {
        {refused, "The destination refused the connection"},
        {asio::error::connection_refused, "The destination refused the connection"},
        {std::make_error_code(std::errc::host_unreachable), "The destination cannot be reached from this network"},
        {asio::error::connection_reset, "The connection was broken off"},
        {asio::error::host_not_found, "No device was found under that name or address"},
        {std::make_error_code(std::errc::no_space_on_device), "Not enough free space in the receive folder"},
        {std::make_error_code(std::errc::read_only_file_system), "The receive folder cannot be written to"},
        {std::make_error_code(std::errc::too_many_symbolic_link_levels),
         std::make_error_code(std::errc::too_many_symbolic_link_levels).message()},
    };
    for (const auto& [error, text] : texts) {
        EXPECT_EQ(TransferError::system(error).description(), text) << error.message();
    }
    EXPECT_EQ(TransferError::system(make_error_code(TransferErrc::declined)),
              TransferError::of(TransferErrc::declined));
}

TEST_F(TransferErrorTest, AddressReasonsReadInTheCurrentLanguage) {
    EXPECT_EQ(make_error_code(AddressErrc::refused).message(),
              "Nothing answers on that port — check the port in the other device’s Settings");
    EXPECT_EQ(make_error_code(AddressErrc::plainListener).message(),
              "That device runs without a security key and cannot be added by address");
    L::setLang("de");
    EXPECT_EQ(make_error_code(AddressErrc::notQuobblefin).message(), "Das ist kein Quobblefin-Gerät");
}

}  // namespace
}  // namespace qb::transfer
