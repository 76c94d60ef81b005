// `pkcs11 list certificates`: read-only sessions without login, one record
// per certificate object, thumbprints as SHA-1 of exactly the value's bytes.
#include "TokenMachine.h"

namespace {

using CertificateList = TokenCalls;

// What a token shows only after login is not listed: the listing never logs
// in, and keys are no certificates.
TEST_F(CertificateList, ThumbprintsOfEveryCertificateInSlotOrder)
{
    const std::string first = selfSignedCertificate(1, "first"), second = selfSignedCertificate(2, "second");
    const Json hidden
        = patched(certificate(11, hexOf(selfSignedCertificate(3, "hidden"))), { { "/afterLogin", true } });
    const Json a = patched(slot(1, "0A"),
        { { "/objects",
            { certificate(10, hexOf(first)), hidden, object(13, kPrivateKey, "01", "key"),
                certificate(12, hexOf(second)) } } });
    machine_.script({ { "slots",
        { a, patched(slot(2, "0B"), { { "/objects", Json::array({ certificate(20, hexOf(first)) }) } }) } } });

    EXPECT_EQ(machine_.run({ "pkcs11", "list", "certificates", "GD" }),
        successDocument({ certificateRecord("0A", sha1Hex(first)), certificateRecord("0A", sha1Hex(second)),
            certificateRecord("0B", sha1Hex(first)) }));
    EXPECT_EQ(machine_.calls(),
        joined({ loading(2), tokenReads("1"), tokenReads("2"), { opening("1", "0x4") }, tokenReads("1"),
            search("1", classTemplate(kCertificate), 2), attributeRead("1", 10, "CKA_VALUE", first.size()),
            attributeRead("1", 12, "CKA_VALUE", second.size()), closing("1", false), { opening("2", "0x4") },
            tokenReads("2"), search("2", classTemplate(kCertificate), 1),
            attributeRead("2", 20, "CKA_VALUE", first.size()), closing("2", false), { kFinalize } }));
}

} // namespace
