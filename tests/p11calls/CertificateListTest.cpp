// `pkcs11 list certificates`: read-only sessions without login, one record
// per certificate object, thumbprints as SHA-1 of exactly the value's bytes.
#include "TokenMachine.h"

namespace {

using CertificateList = TokenCalls;

std::string pattern(std::size_t length, unsigned seed)
{
    std::string out(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        out[i] = static_cast<char>((i * 31 + seed) & 0xFF);
    return out;
}

// What a token shows only after login is not listed: the listing never logs
// in, and keys are no certificates.
TEST_F(CertificateList, ThumbprintsOfEveryCertificateInSlotOrder)
{
    const std::string first = pattern(700, 1), second = pattern(200, 0);
    const Json hidden = patched(certificate(11, hexOf(pattern(64, 9))), { { "/afterLogin", true } });
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
            search("1", classTemplate(kCertificate), 2), attributeRead("1", 10, "CKA_VALUE", 700),
            attributeRead("1", 12, "CKA_VALUE", 200), closing("1", false), { opening("2", "0x4") }, tokenReads("2"),
            search("2", classTemplate(kCertificate), 1), attributeRead("2", 20, "CKA_VALUE", 700), closing("2", false),
            { kFinalize } }));
}

} // namespace
