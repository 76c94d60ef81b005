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
    for (unsigned seed = 0;; ++seed) {
        Bytes value = pattern(200, 0);
        value[0] = static_cast<unsigned char>(seed);
        value[1] = static_cast<unsigned char>(seed >> 8);
        value[2] = static_cast<unsigned char>(seed >> 16);
        Bytes digest(SHA_DIGEST_LENGTH);
        SHA1(value.data(), value.size(), digest.data());
        if (digest[0] == 0 && digest[1] < 0x10)
            return value;
    }
}

Json record(const std::string& type, const std::string& serial, const std::string& thumbprint)
{
    return { { "type", type }, { "serial", serial }, { "thumbprint", thumbprint } };
}

class CertificateList : public ::testing::Test {
protected:
    TokenMachine machine_;

    std::string listCertificates(const std::string& type = "GD")
    {
        return machine_.run({ "pkcs11", "list", "certificates", type });
    }

    static std::string openReadOnly(const std::string& module, const std::string& slotId)
    {
        return module + "C_OpenSession slot=" + slotId
            + " flags=0x4 pApplication=NULL notify=NULL phSession=set -> 0x0";
    }
};

TEST_F(CertificateList, ThumbprintsOfEveryCertificateInSlotOrder)
{
    const Bytes first = pattern(700, 1);
    const Bytes zeros = leadingZerosValue();
    ASSERT_EQ(sha1Hex(zeros).substr(0, 3), "000");
    machine_.install(kGdPath);
    Json a = slot(1, "0A");
    a["objects"]
        = { certificate(10, hexOf(first)), object(11, kPrivateKey, "01", "key"), certificate(12, hexOf(zeros)) };
    Json b = slot(2, "0B");
    b["objects"] = { certificate(20, hexOf(first)) };
    machine_.script({ { "slots", { a, b } } });

    EXPECT_EQ(listCertificates(),
        successDocument({ record("GD", "0A", sha1Hex(first)), record("GD", "0A", sha1Hex(zeros)),
            record("GD", "0B", sha1Hex(first)) }));
    EXPECT_EQ(machine_.calls(),
        joined(
            { loading(gd, 2), tokenReads(gd, "1"), tokenReads(gd, "2"), { openReadOnly(gd, "1") }, tokenReads(gd, "1"),
                search(gd, "1", classTemplate(kCertificate), 2), attributeRead(gd, "1", 10, "CKA_VALUE", 700),
                attributeRead(gd, "1", 12, "CKA_VALUE", 200), closing(gd, "1", false), { openReadOnly(gd, "2") },
                tokenReads(gd, "2"), search(gd, "2", classTemplate(kCertificate), 1),
                attributeRead(gd, "2", 20, "CKA_VALUE", 700), closing(gd, "2", false), finalizing(gd) }));
}

TEST_F(CertificateList, TokenWithoutCertificatesListsNothing)
{
    machine_.install(kGdPath);
    Json a = slot(1, "0A");
    a["objects"] = { object(11, kPrivateKey, "01", "key"), object(12, kPublicKey, "01", "key") };
    machine_.script(oneSlot(a));
    EXPECT_EQ(listCertificates(), successDocument(Json::array()));

    machine_.script({ { "slots", Json::array() } });
    EXPECT_EQ(listCertificates(), successDocument(Json::array()));
    EXPECT_EQ(machine_.calls(), joined({ loading(gd, 0), finalizing(gd) }));
}

// The listing reads without login: what a token shows only after login is
// not there.
TEST_F(CertificateList, CertificatesBehindLoginAreNotListed)
{
    const Bytes open = pattern(64, 7);
    machine_.install(kGdPath);
    Json a = slot(1, "0A");
    Json hidden = certificate(10, hexOf(pattern(64, 9)));
    hidden["afterLogin"] = true;
    a["objects"] = { hidden, certificate(11, hexOf(open)) };
    machine_.script(oneSlot(a));
    EXPECT_EQ(listCertificates(), successDocument({ record("GD", "0A", sha1Hex(open)) }));
    for (const auto& call : machine_.calls())
        EXPECT_EQ(call.find("C_Login"), std::string::npos) << call;
}

// "ND" lists the certificates of every loaded module, each with its own code.
TEST_F(CertificateList, AllModulesCarryTheirOwnCodes)
{
    const Bytes shared = pattern(300, 3);
    machine_.install(kEtPath);
    machine_.install(kDxPath);
    Json etSlot = slot(1, "0E");
    etSlot["objects"] = { certificate(10, hexOf(shared)) };
    Json dxSlot = slot(1, "0D");
    dxSlot["objects"] = { certificate(10, hexOf(shared)) };
    machine_.script(
        { { "modules", { { "eTPKCS11.dll", oneSlot(etSlot) }, { "DXSafePKCS11.dll", oneSlot(dxSlot) } } } });

    EXPECT_EQ(listCertificates("ND"),
        successDocument({ record("ET", "0E", sha1Hex(shared)), record("DX", "0D", sha1Hex(shared)) }));
    const Lines calls = machine_.calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls[calls.size() - 2], finalizing(et).front());
    EXPECT_EQ(calls.back(), finalizing(dx).front());
}

// Without a session handle the reads go to handle 0 and fail in the module;
// the close then has no session to close, and the request still answers
// one envelope.
TEST_F(CertificateList, UnopenedSessionEndsInTheClose)
{
    machine_.install(kGdPath);
    Json script = oneSlot(slot(1, "0A"));
    script["slots"][0]["objects"] = { certificate(10, "3000") };
    script["rv"] = { { "C_OpenSession", "0x3" } };
    machine_.script(script);

    EXPECT_EQ(listCertificates(), errorDocument(nullptr));
    EXPECT_EQ(machine_.calls(),
        joined({ loading(gd, 1), tokenReads(gd, "1"),
            { gd + "C_OpenSession slot=1 flags=0x4 pApplication=NULL notify=NULL phSession=set -> 0x3" },
            tokenReads(gd, "1"),
            { gd + "C_FindObjectsInit session=0 count=1 [CKA_CLASS=ulong:1] -> 0xb3",
                gd + "C_FindObjects session=0 phObject=set max=1 pulObjectCount=set -> 0xb3",
                gd + "C_FindObjectsFinal session=0 -> 0xb3" },
            finalizing(gd) }));
}

} // namespace
