// Sessions, login and `pkcs11 list objects`: what the token module is asked,
// in which order, with which PIN bytes, and what the caller reads back.
#include <gtest/gtest.h>

#include "Scripts.h"
#include "TokenMachine.h"

namespace {

const std::string kLogin = gd + "C_Login session=1 userType=1 pin=hex:31323334 pinLen=4 -> 0x";
const std::string kOpenReadWrite = opening(gd, "1", "0x6");

class ObjectList : public ::testing::Test {
protected:
    TokenMachine machine_;

    // One GD token, serial 0A1B in slot 1, holding `objects`.
    void token(const std::vector<Json>& objects, const Json& rv = Json::object())
    {
        machine_.install(kGdPath);
        machine_.script(patched(oneSlot(slot(1, "0A1B")), { { "/slots/0/objects", objects }, { "/rv", rv } }));
    }

    std::string listObjects(const std::string& pin)
    {
        return machine_.run({ "pkcs11", "list", "objects", "GD", "0A1B", pin });
    }

    // Loading, judging the slot, and finding the token again by its serial.
    static Lines beforeTheSession() { return joined({ loading(gd, 1), tokenReads(gd, "1"), tokenReads(gd, "1") }); }

    // The calls of a listing of a token without private keys.
    static Lines emptyListing(const std::string& login)
    {
        return joined({ beforeTheSession(), { kOpenReadWrite, login }, search(gd, "1", classTemplate(kPrivateKey), 0),
            closing(gd, "1"), finalizing(gd) });
    }
};

// Two private keys with IDs 01 02 and 03 04, a certificate for each and a
// public key for the first: one record per private key, in key order.
TEST_F(ObjectList, GroupsObjectsAroundPrivateKeys)
{
    token({ object(11, kPrivateKey, "0102", "first key"), object(12, kCertificate, "0102", "first cert"),
        object(13, kPublicKey, "0102", "first public"), object(21, kPrivateKey, "0304", "second key"),
        object(22, kCertificate, "0304", "second cert") });

    EXPECT_EQ(listObjects("1234"),
        successDocument({ objectRecord("AQI=", "first public", true, true, true),
            objectRecord("AwQ=", "second cert", false, true, true) }));
    // Each object of a key: its class, then its label.
    const auto classAndLabel = [](unsigned long object, unsigned long labelLength) {
        return joined({ { classRead(gd, "1", object) }, attributeRead(gd, "1", object, "CKA_LABEL", labelLength) });
    };
    EXPECT_EQ(machine_.calls(),
        joined({ beforeTheSession(), { kOpenReadWrite, kLogin + "0" }, search(gd, "1", classTemplate(kPrivateKey), 2),
            attributeRead(gd, "1", 11, "CKA_ID", 2), search(gd, "1", "count=1 [CKA_ID=hex:0102]", 3),
            classAndLabel(11, 9), classAndLabel(12, 10), classAndLabel(13, 12), attributeRead(gd, "1", 21, "CKA_ID", 2),
            search(gd, "1", "count=1 [CKA_ID=hex:0304]", 2), classAndLabel(21, 10), classAndLabel(22, 11),
            closing(gd, "1"), finalizing(gd) }));
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
    token({ object(11, kPrivateKey, "0a", "key"), object(12, kCertificate, "0a", ""), object(14, 8, "0a", "data"),
        noClass, object(21, kPrivateKey, "0b", "padded key" + std::string(22, ' ')),
        object(31, kPrivateKey, "0c", { { "hex", "6b657900746f6f" } }), object(41, kPrivateKey, "0d", "first"),
        object(42, kPublicKey, "0d", "second"), object(43, kCertificate, "0e", "other id"),
        object(61, kPrivateKey, "", "empty id"), object(62, kCertificate, "", "empty cert"), noId });

    EXPECT_EQ(listObjects("1234"),
        successDocument({ objectRecord("Cg==", "", false, true, true),
            objectRecord("Cw==", "padded key" + std::string(22, ' ')), objectRecord("DA==", "key"),
            objectRecord("DQ==", "second", true), objectRecord("", "empty cert", false, true, true),
            objectRecord("", "empty cert", false, true, true) }));
    int emptySearches = 0;
    for (const auto& call : machine_.calls())
        emptySearches += call == gd + "C_FindObjectsInit session=1 count=1 [CKA_ID=hex:] -> 0x0"
            || call == gd + "C_FindObjectsInit session=1 count=1 [CKA_ID=NULL/0] -> 0x0";
    EXPECT_EQ(emptySearches, 2);
}

// "" and "ND" log in without a PIN; any other text goes as its exact bytes.
// Public keys and certificates alone list nothing.
TEST_F(ObjectList, LoginReceivesThePinBytesAndLength)
{
    token({ object(12, kCertificate, "0102", "cert"), object(13, kPublicKey, "0102", "public") });
    std::vector<std::string> pins = { "", "ND", "1234", "nd", " 12 34 ", "ND ", " ND", "NDND", std::string(300, '7') };
    // Windows hands a program its arguments in the ANSI code page, so only
    // the Linux build sees these bytes unchanged.
    if (!underWine())
        pins.push_back("s\xc3\xa9nha\xe2\x82\xac");
    for (const auto& pin : pins) {
        SCOPED_TRACE(pin);
        const bool noPin = pin.empty() || pin == "ND";
        EXPECT_EQ(listObjects(pin), successDocument(Json::array()));
        EXPECT_EQ(machine_.calls(),
            emptyListing(gd + "C_Login session=1 userType=1 pin=" + (noPin ? "NULL" : "hex:" + hexOf(pin))
                + " pinLen=" + std::to_string(noPin ? 0 : pin.size()) + " -> 0x0"));
    }
}

// A refused login answers its message; the session is left to C_Finalize.
TEST_F(ObjectList, RefusedLoginAnswersItsMessage)
{
    const std::pair<const char*, const char*> refusals[] = {
        { "a0", "Pin incorreto" },
        { "a1", "Pin invalido" },
        { "a2", "Tamanho do Pin invalido" },
        { "a3", "Pin expirado" },
        { "a4", "Pin bloqueado" },
        { "7", "Argumentos invalidos" },
        { "100", "Erro Generico" },
        { "5", "Erro Generico" },
        { "101", "Erro Generico" },
        { "a5", "Erro Generico" },
        { "80000000", "Erro Generico" },
    };
    for (const auto& [rv, message] : refusals) {
        SCOPED_TRACE(rv);
        token({ object(11, kPrivateKey, "01", "key") }, { { "C_Login", std::string("0x") + rv } });
        EXPECT_EQ(listObjects("1234"), errorDocument(std::string("Erro no Login - ") + message));
        EXPECT_EQ(machine_.calls(), joined({ beforeTheSession(), { kOpenReadWrite, kLogin + rv }, finalizing(gd) }));
    }
}

// A session that could not be opened: no login is tried, and the answer is
// the bare "NO SESSION OPEN" failure, which carries no message for the caller.
// A module that answers CKR_OK but hands out handle 0 is no better.
TEST_F(ObjectList, NoSessionNoLogin)
{
    token({ object(11, kPrivateKey, "01", "key") }, { { "C_OpenSession", "0x3" } });
    EXPECT_EQ(listObjects("1234"), errorDocument(nullptr));
    EXPECT_EQ(machine_.calls(), joined({ beforeTheSession(), { opening(gd, "1", "0x6", "0x3") }, finalizing(gd) }));

    machine_.script({ { "slots", { slot(1, "0A1B") } }, { "sessionHandles", { 0 } } });
    EXPECT_EQ(listObjects("1234"), errorDocument(nullptr));
    EXPECT_EQ(machine_.calls(), joined({ beforeTheSession(), { kOpenReadWrite }, finalizing(gd) }));
}

TEST_F(ObjectList, SessionHandleGoesToEveryCall)
{
    machine_.install(kGdPath);
    machine_.script(patched(oneSlot(slot(1, "0A1B")),
        { { "/sessionHandles", { 4294967295ULL } },
            { "/slots/0/objects", Json::array({ object(11, kPrivateKey, "", "key") }) } }));
    EXPECT_EQ(listObjects("ND"), successDocument({ objectRecord("", "key") }));
    const Lines calls = machine_.calls();
    ASSERT_GT(calls.size(), 18u);
    for (std::size_t i = 18; i + 1 < calls.size(); ++i)
        EXPECT_NE(calls[i].find(" session=4294967295 "), std::string::npos) << calls[i];
    EXPECT_EQ(calls.back(), finalizing(gd).front());
}

} // namespace
