#include "identity/HeaderSignature.h"

#include <gtest/gtest.h>

#include <sstream>

#include "support/TestEnv.h"

namespace qb::identity {
namespace {

class HeaderSignatureTest : public ::testing::Test {
protected:
    test::TempDir temp;
    std::ostringstream console;
    Identity sender{{false, temp / "sender-keys", temp / "sender.json", &console}};
    Identity receiver{{false, temp / "receiver-keys", temp / "receiver.json", &console}};
    Identity bystander{{false, temp / "bystander-keys", temp / "bystander.json", &console}};
};

TEST_F(HeaderSignatureTest, OnlyTheIntendedReceiverLearnsTheSendersKey) {
    EXPECT_EQ(signedContext(receiver.ownFingerprint()), "quobblefin-v4:" + receiver.ownFingerprint());
    const auto proof = signForReceiver(sender, receiver.ownFingerprint());
    ASSERT_TRUE(proof);
    EXPECT_EQ(checkSenderSignature(proof->certB64, proof->sigB64, receiver.ownFingerprint()), sender.ownFingerprint());
    EXPECT_FALSE(checkSenderSignature(proof->certB64, proof->sigB64, bystander.ownFingerprint())) << "replayed";
}

TEST_F(HeaderSignatureTest, MissingGarbledOrBorrowedFieldsAreRefused) {
    const std::string own = receiver.ownFingerprint();
    const auto proof = *signForReceiver(sender, own);
    const auto bystanderProof = *signForReceiver(bystander, own);
    EXPECT_FALSE(checkSenderSignature(std::nullopt, proof.sigB64, own));
    EXPECT_FALSE(checkSenderSignature(proof.certB64, std::nullopt, own));
    EXPECT_FALSE(checkSenderSignature(proof.certB64 + "\n", proof.sigB64, own));
    EXPECT_FALSE(checkSenderSignature(proof.certB64, "%%%%", own));
    EXPECT_FALSE(checkSenderSignature(platform::base64Encode(platform::asBytes("no cert")), proof.sigB64, own));
    EXPECT_FALSE(checkSenderSignature(proof.certB64, bystanderProof.sigB64, own)) << "signed by another key";
    EXPECT_FALSE(checkSenderSignature(proof.certB64, proof.sigB64, "")) << "a receiver without a key checks nothing";
}

}  // namespace
}  // namespace qb::identity
