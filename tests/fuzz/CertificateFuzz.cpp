// Certificate parsing and signature checks on bytes a sender controls: the DER certificate and the
// signature of a header, raw and as the Base64 texts of `cert` and `sig`.

#include "FuzzTarget.h"
#include "identity/HeaderSignature.h"
#include "platform/Crypto.h"

using namespace qb;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    // The first two bytes say where the certificate ends and the signature begins.
    const auto input = fuzz::bytes(data + 2, size - 2);
    const std::size_t split = std::min<std::size_t>((std::size_t{data[0]} << 8 | data[1]), input.size());
    const auto der = input.first(split);
    const auto signature = input.subspan(split);
    if (const auto certificate = platform::parseCertificate(der)) {
        (void)platform::publicKeyOf(*certificate);
    }
    const auto receiver = std::string(64, 'a');
    const auto context = identity::signedContext(receiver);
    const bool valid = platform::verifySignature(der, platform::asBytes(context), signature);
    const auto sender =
        identity::checkSenderSignature(platform::base64Encode(der), platform::base64Encode(signature), receiver);
    // Both checks see the same certificate and signature, so they must agree.
    fuzz::require(valid == sender.has_value());
    return 0;
}
