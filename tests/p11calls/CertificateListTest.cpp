// `pkcs11 list certificates`: read-only sessions without login, one record
// per certificate object, thumbprints as SHA-1 of exactly the value's bytes.
#include <gtest/gtest.h>

#include "Scripts.h"
#include "TokenMachine.h"

namespace {

using Bytes = std::vector<unsigned char>;

Bytes pattern(std::size_t length, unsigned seed)
{
    Bytes out(length);
    for (std::size_t i = 0; i < length; ++i)
        out[i] = static_cast<unsigned char>((i * 31 + seed) & 0xFF);
    return out;
}

// A value whose SHA-1 begins with the byte 00 and a byte below 0x10, so that
// its thumbprint starts with three zero digits.
Bytes leadingZerosValue()
{
    Bytes value = pattern(200, 0);
    for (unsigned seed = 0; sha1Hex(value).substr(0, 3) != "000"; ++seed)
        for (int i = 0; i < 3; ++i)
            value[i] = static_cast<unsigned char>(seed >> (8 * i));
    return value;
}

class CertificateList : public ::testing::Test {
protected:
    TokenMachine machine_;

    std::string listCertificates(const std::string& type = "GD")
    {
        return machine_.run({ "pkcs11", "list", "certificates", type });
    }
};

// What a token shows only after login is not listed: the listing never logs in.
TEST_F(CertificateList, ThumbprintsOfEveryCertificateInSlotOrder)
{
    const Bytes first = pattern(700, 1);
    const Bytes zeros = leadingZerosValue();
    machine_.install(kGdPath);
    const Json hidden = patched(certificate(11, hexOf(pattern(64, 9))), { { "/afterLogin", true } });
    const Json a = patched(slot(1, "0A"),
        { { "/objects",
            { certificate(10, hexOf(first)), hidden, object(13, kPrivateKey, "01", "key"),
                certificate(12, hexOf(zeros)) } } });
    machine_.script({ { "slots",
        { a, patched(slot(2, "0B"), { { "/objects", Json::array({ certificate(20, hexOf(first)) }) } }) } } });

    EXPECT_EQ(listCertificates(),
        successDocument({ certificateRecord("GD", "0A", sha1Hex(first)), certificateRecord("GD", "0A", sha1Hex(zeros)),
            certificateRecord("GD", "0B", sha1Hex(first)) }));
    EXPECT_EQ(machine_.calls(),
        joined({ loading(gd, 2), tokenReads(gd, "1"), tokenReads(gd, "2"), { opening(gd, "1", "0x4") },
            tokenReads(gd, "1"), search(gd, "1", classTemplate(kCertificate), 2),
            attributeRead(gd, "1", 10, "CKA_VALUE", 700), attributeRead(gd, "1", 12, "CKA_VALUE", 200),
            closing(gd, "1", false), { opening(gd, "2", "0x4") }, tokenReads(gd, "2"),
            search(gd, "2", classTemplate(kCertificate), 1), attributeRead(gd, "2", 20, "CKA_VALUE", 700),
            closing(gd, "2", false), finalizing(gd) }));
}

TEST_F(CertificateList, TokenWithoutCertificatesListsNothing)
{
    machine_.install(kGdPath);
    machine_.script(patched(oneSlot(slot(1, "0A")),
        { { "/slots/0/objects", { object(11, kPrivateKey, "01", "key"), object(12, kPublicKey, "01", "key") } } }));
    EXPECT_EQ(listCertificates(), successDocument(Json::array()));

    machine_.script({ { "slots", Json::array() } });
    EXPECT_EQ(listCertificates(), successDocument(Json::array()));
    EXPECT_EQ(machine_.calls(), joined({ loading(gd, 0), finalizing(gd) }));
}

// "ND" lists the certificates of every loaded module, each with its own code.
TEST_F(CertificateList, AllModulesCarryTheirOwnCodes)
{
    const Bytes shared = pattern(300, 3);
    machine_.install(kEtPath);
    machine_.install(kDxPath);
    const Json token
        = oneSlot(patched(slot(1, "0E"), { { "/objects", Json::array({ certificate(10, hexOf(shared)) }) } }));
    machine_.script({ { "modules",
        { { "eTPKCS11.dll", token },
            { "DXSafePKCS11.dll", patched(token, { { "/slots/0/token/serialNumber", "0D" } }) } } } });

    EXPECT_EQ(listCertificates("ND"),
        successDocument(
            { certificateRecord("ET", "0E", sha1Hex(shared)), certificateRecord("DX", "0D", sha1Hex(shared)) }));
    const Lines calls = machine_.calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(Lines(calls.end() - 2, calls.end()), joined({ finalizing(et), finalizing(dx) }));
}

// Without a session handle the reads go to handle 0 and fail in the module;
// the close then has no session to close, and the request still answers
// one envelope.
TEST_F(CertificateList, UnopenedSessionEndsInTheClose)
{
    machine_.install(kGdPath);
    machine_.script(patched(oneSlot(slot(1, "0A")),
        { { "/slots/0/objects", Json::array({ certificate(10, "3000") }) }, { "/rv/C_OpenSession", "0x3" } }));

    EXPECT_EQ(listCertificates(), errorDocument(nullptr));
    EXPECT_EQ(machine_.calls(),
        joined({ loading(gd, 1), tokenReads(gd, "1"), { opening(gd, "1", "0x4", "0x3") }, tokenReads(gd, "1"),
            { gd + "C_FindObjectsInit session=0 count=1 [CKA_CLASS=ulong:1] -> 0xb3",
                gd + "C_FindObjects session=0 phObject=set max=1 pulObjectCount=set -> 0xb3",
                gd + "C_FindObjectsFinal session=0 -> 0xb3" },
            finalizing(gd) }));
}

} // namespace
