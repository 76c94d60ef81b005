// Sessions, login and `pkcs11 list objects`: what the token module is asked,
// in which order, with which PIN bytes, and what the caller reads back.
#include "TokenMachine.h"

namespace {

std::vector<std::string> listObjects(const std::string& pin)
{
    return { "pkcs11", "list", "objects", "GD", "0A1B", pin };
}

using ObjectList = TokenCalls;

// Two private keys with IDs 01 02 and 03 04, a certificate for each and a
// public key for the first: one record per private key, in key order. The
// session handle, the largest a 32-bit CK_ULONG holds, goes to every call.
TEST_F(ObjectList, GroupsObjectsAroundPrivateKeys)
{
    machine_.script(oneSlot("0A1B",
        { object(11, kPrivateKey, "0102", "first key"), object(12, kCertificate, "0102", "first cert"),
            object(13, kPublicKey, "0102", "first public"), object(21, kPrivateKey, "0304", "second key"),
            object(22, kCertificate, "0304", "second cert") },
        { { "sessionHandles", { 4294967295ULL } } }));

    EXPECT_EQ(machine_.run(listObjects("1234")),
        successDocument(Json::array({ objectRecord("AQI=", "first public", true, true, true),
            objectRecord("AwQ=", "second cert", false, true, true) })));
    // Each object of a key: its class (a CK_ULONG, 32 bits in the Windows
    // builds), then its label.
    const std::string session = "4294967295";
    const auto classAndLabel = [&](unsigned long object, unsigned long labelLength) {
        return joined({ { "C_GetAttributeValue session=" + session + " object=" + std::to_string(object)
                            + " count=1 [CKA_CLASS=buffer/" + std::to_string(underWine() ? 4 : sizeof(unsigned long))
                            + "] -> 0x0" },
            attributeRead(session, object, "CKA_LABEL", labelLength) });
    };
    EXPECT_EQ(machine_.calls(),
        joined({ loading(1), tokenReads("1"), tokenReads("1"),
            { opening("1", "0x6"), "C_Login session=" + session + " userType=1 pin=hex:31323334 pinLen=4 -> 0x0" },
            ::search(session, "count=1 [CKA_CLASS=ulong:3]", 2), attributeRead(session, 11, "CKA_ID", 2),
            ::search(session, "count=1 [CKA_ID=hex:0102]", 3), classAndLabel(11, 9), classAndLabel(12, 10),
            classAndLabel(13, 12), attributeRead(session, 21, "CKA_ID", 2),
            ::search(session, "count=1 [CKA_ID=hex:0304]", 2), classAndLabel(21, 10), classAndLabel(22, 11),
            closing(session), { kFinalize } }));
}

// The label is that of the last object with the key's ID that set a flag:
// an empty label replaces an earlier one, an object of another class changes
// nothing, labels keep their blanks and end at a zero byte. A key without an
// ID is searched by an empty one, with or without a pointer.
TEST_F(ObjectList, LabelsComeFromTheLastFlaggedObject)
{
    const Json noClass
        = { { "handle", 15 }, { "attributes", { { "CKA_ID", { { "hex", "0a" } } }, { "CKA_LABEL", "no class" } } } };
    const Json noId = { { "handle", 51 },
        { "attributes", { { "CKA_CLASS", { { "ulong", kPrivateKey } } }, { "CKA_LABEL", "no id" } } } };
    machine_.script(oneSlot("0A1B",
        { object(11, kPrivateKey, "0a", "key"), object(12, kCertificate, "0a", ""), object(14, 8, "0a", "data"),
            noClass, object(21, kPrivateKey, "0b", "padded key" + std::string(22, ' ')),
            object(31, kPrivateKey, "0c", { { "hex", "6b657900746f6f" } }), object(41, kPrivateKey, "0d", "first"),
            object(42, kPublicKey, "0d", "second"), object(43, kCertificate, "0e", "other id"),
            object(61, kPrivateKey, "", "empty id"), object(62, kCertificate, "", "empty cert"), noId }));

    EXPECT_EQ(machine_.run(listObjects("1234")),
        successDocument(Json::array({ objectRecord("Cg==", "", false, true, true),
            objectRecord("Cw==", "padded key" + std::string(22, ' ')), objectRecord("DA==", "key"),
            objectRecord("DQ==", "second", true), objectRecord("", "empty cert", false, true, true),
            objectRecord("", "empty cert", false, true, true) })));
    const Lines calls = machine_.calls();
    EXPECT_EQ(logged(calls, "C_FindObjectsInit session=1 count=1 [CKA_ID=hex:] -> 0x0")
            + logged(calls, "C_FindObjectsInit session=1 count=1 [CKA_ID=NULL/0] -> 0x0"),
        2u);
}

// "" and "ND" log in without a PIN; any other text goes as its exact bytes.
// Public keys and certificates alone list nothing.
TEST_F(ObjectList, LoginReceivesThePinBytesAndLength)
{
    machine_.script(
        oneSlot("0A1B", { object(12, kCertificate, "0102", "cert"), object(13, kPublicKey, "0102", "public") }));
    for (const std::string pin : { "", "ND", "nd", "ND ", " ND", "NDND", " 12 34 " }) {
        SCOPED_TRACE(pin);
        const bool noPin = pin.empty() || pin == "ND";
        EXPECT_EQ(machine_.run(listObjects(pin)), successDocument(Json::array()));
        EXPECT_EQ(machine_.calls().at(18),
            "C_Login session=1 userType=1 pin=" + (noPin ? "NULL" : "hex:" + hexOf(pin))
                + " pinLen=" + std::to_string(noPin ? 0 : pin.size()) + " -> 0x0");
    }
}

} // namespace
