// Sessions, login and `pkcs11 list objects`: what the token module is asked,
// in which order, with which PIN bytes, and what the caller reads back.
#include <gtest/gtest.h>

#include "Scripts.h"
#include "TokenMachine.h"

namespace {

Json record(const std::string& id, const std::string& label, bool publicKey, bool privateKey, bool certificate)
{
    return { { "id", id }, { "label", label }, { "publicKey", publicKey }, { "privateKey", privateKey },
        { "certificate", certificate } };
}

class ObjectList : public ::testing::Test {
protected:
    TokenMachine machine_;

    // One GD token, serial 0A1B in slot 1, holding `objects`.
    void token(const std::vector<Json>& objects, const Json& rv = Json::object())
    {
        machine_.install(kGdPath);
        Json script = oneSlot(slot(1, "0A1B"));
        for (const auto& each : objects)
            script["slots"][0]["objects"].push_back(each);
        script["rv"] = rv;
        machine_.script(script);
    }

    std::string listObjects(const std::string& pin)
    {
        return machine_.run({ "pkcs11", "list", "objects", "GD", "0A1B", pin });
    }

    // Loading, judging the slot, and finding the token again by its serial.
    static Lines beforeTheSession() { return joined({ loading(gd, 1), tokenReads(gd, "1"), tokenReads(gd, "1") }); }

    static std::string openReadWrite()
    {
        return gd + "C_OpenSession slot=1 flags=0x6 pApplication=NULL notify=NULL phSession=set -> 0x0";
    }

    // The calls of a listing of a token without private keys.
    static Lines emptyListing(const std::string& login)
    {
        return joined({ beforeTheSession(), { openReadWrite(), login }, search(gd, "1", classTemplate(kPrivateKey), 0),
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
        "{\n"
        "    \"success\": [\n"
        "        {\n"
        "            \"certificate\": true,\n"
        "            \"id\": \"AQI=\",\n"
        "            \"label\": \"first public\",\n"
        "            \"privateKey\": true,\n"
        "            \"publicKey\": true\n"
        "        },\n"
        "        {\n"
        "            \"certificate\": true,\n"
        "            \"id\": \"AwQ=\",\n"
        "            \"label\": \"second cert\",\n"
        "            \"privateKey\": true,\n"
        "            \"publicKey\": false\n"
        "        }\n"
        "    ]\n"
        "}");

    const Lines labelOf11 = attributeRead(gd, "1", 11, "CKA_LABEL", 9);
    const Lines labelOf12 = attributeRead(gd, "1", 12, "CKA_LABEL", 10);
    const Lines labelOf13 = attributeRead(gd, "1", 13, "CKA_LABEL", 12);
    const Lines labelOf21 = attributeRead(gd, "1", 21, "CKA_LABEL", 10);
    const Lines labelOf22 = attributeRead(gd, "1", 22, "CKA_LABEL", 11);
    EXPECT_EQ(machine_.calls(),
        joined({ beforeTheSession(),
            { openReadWrite(), gd + "C_Login session=1 userType=1 pin=hex:31323334 pinLen=4 -> 0x0" },
            search(gd, "1", classTemplate(kPrivateKey), 2), attributeRead(gd, "1", 11, "CKA_ID", 2),
            search(gd, "1", "count=1 [CKA_ID=hex:0102]", 3), { classRead(gd, "1", 11) }, labelOf11,
            { classRead(gd, "1", 12) }, labelOf12, { classRead(gd, "1", 13) }, labelOf13,
            attributeRead(gd, "1", 21, "CKA_ID", 2), search(gd, "1", "count=1 [CKA_ID=hex:0304]", 2),
            { classRead(gd, "1", 21) }, labelOf21, { classRead(gd, "1", 22) }, labelOf22, closing(gd, "1"),
            finalizing(gd) }));
}

// The label is that of the last object with the key's ID that set a flag:
// an empty label replaces an earlier one, an object of another class changes
// nothing, labels keep their blanks and end at a zero byte.
TEST_F(ObjectList, LabelsComeFromTheLastFlaggedObject)
{
    Json unclassified = object(14, 8, "0a", "data object");
    Json noClass
        = { { "handle", 15 }, { "attributes", { { "CKA_ID", { { "hex", "0a" } } }, { "CKA_LABEL", "no class" } } } };
    token({ object(11, kPrivateKey, "0a", "key"), object(12, kCertificate, "0a", ""), unclassified, noClass,
        object(21, kPrivateKey, "0b", "padded key" + std::string(22, ' ')),
        object(31, kPrivateKey, "0c", { { "hex", "6b657900746f6f" } }), object(41, kPrivateKey, "0d", "first"),
        object(42, kPublicKey, "0d", "second"), object(43, kCertificate, "0e", "other id") });

    EXPECT_EQ(listObjects("1234"),
        successDocument({ record("Cg==", "", false, true, true),
            record("Cw==", "padded key" + std::string(22, ' '), false, true, false),
            record("DA==", "key", false, true, false), record("DQ==", "second", true, true, false) }));
}

TEST_F(ObjectList, KeyWithoutIdIsSearchedByAnEmptyId)
{
    token({ object(11, kPrivateKey, "", "empty id"), object(12, kCertificate, "", "empty cert"),
        { { "handle", 13 },
            { "attributes", { { "CKA_CLASS", { { "ulong", kPrivateKey } } }, { "CKA_LABEL", "no id" } } } } });

    EXPECT_EQ(listObjects("1234"),
        successDocument({ record("", "empty cert", false, true, true), record("", "empty cert", false, true, true) }));
    // The ID search carries an empty value, with or without a pointer.
    int emptySearches = 0;
    for (const auto& call : machine_.calls())
        if (call == gd + "C_FindObjectsInit session=1 count=1 [CKA_ID=hex:] -> 0x0"
            || call == gd + "C_FindObjectsInit session=1 count=1 [CKA_ID=NULL/0] -> 0x0")
            ++emptySearches;
    EXPECT_EQ(emptySearches, 2);
}

TEST_F(ObjectList, TokenWithoutPrivateKeysListsNothing)
{
    token({ object(12, kCertificate, "0102", "cert"), object(13, kPublicKey, "0102", "public") });
    EXPECT_EQ(listObjects("1234"), successDocument(Json::array()));
    EXPECT_EQ(machine_.calls(), emptyListing(gd + "C_Login session=1 userType=1 pin=hex:31323334 pinLen=4 -> 0x0"));
}

// "" and "ND" log in without a PIN; any other text goes as its exact bytes.
TEST_F(ObjectList, LoginReceivesThePinBytesAndLength)
{
    token({});
    const std::string noPin = gd + "C_Login session=1 userType=1 pin=NULL pinLen=0 -> 0x0";
    for (const char* pin : { "", "ND" }) {
        EXPECT_EQ(listObjects(pin), successDocument(Json::array()));
        EXPECT_EQ(machine_.calls(), emptyListing(noPin));
    }

    std::vector<std::string> pins = { "1234", "nd", " 12 34 ", "ND ", std::string(300, '7') };
    // Windows hands a program its arguments in the ANSI code page, so only
    // the Linux build sees these bytes unchanged.
    if (!underWine())
        pins.push_back("s\xc3\xa9nha\xe2\x82\xac");
    for (const auto& pin : pins) {
        SCOPED_TRACE(pin);
        EXPECT_EQ(listObjects(pin), successDocument(Json::array()));
        EXPECT_EQ(machine_.calls(),
            emptyListing(gd + "C_Login session=1 userType=1 pin=hex:" + hexOf(pin)
                + " pinLen=" + std::to_string(pin.size()) + " -> 0x0"));
    }
}

// A refused login answers its message; the session is left to C_Finalize.
TEST_F(ObjectList, RefusedLoginAnswersItsMessage)
{
    struct Refusal {
        const char* rv; // as the script gives it and the log writes it
        const char* message;
    };
    const Refusal refusals[] = {
        { "0xa0", "Erro no Login - Pin incorreto" },
        { "0xa1", "Erro no Login - Pin invalido" },
        { "0xa2", "Erro no Login - Tamanho do Pin invalido" },
        { "0xa3", "Erro no Login - Pin expirado" },
        { "0xa4", "Erro no Login - Pin bloqueado" },
        { "0x7", "Erro no Login - Argumentos invalidos" },
        { "0x100", "Erro no Login - Erro Generico" },
        { "0x5", "Erro no Login - Erro Generico" },
        { "0x101", "Erro no Login - Erro Generico" },
        { "0xa5", "Erro no Login - Erro Generico" },
        { "0x80000000", "Erro no Login - Erro Generico" },
    };
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.rv);
        token({ object(11, kPrivateKey, "01", "key") }, { { "C_Login", refusal.rv } });
        EXPECT_EQ(listObjects("1234"), errorDocument(refusal.message));
        EXPECT_EQ(machine_.calls(),
            joined({ beforeTheSession(),
                { openReadWrite(), gd + "C_Login session=1 userType=1 pin=hex:31323334 pinLen=4 -> " + refusal.rv },
                finalizing(gd) }));
    }
}

// A session that could not be opened: no login is tried, and the answer is
// the bare "NO SESSION OPEN" failure, which carries no message for the caller.
TEST_F(ObjectList, NoSessionNoLogin)
{
    token({ object(11, kPrivateKey, "01", "key") }, { { "C_OpenSession", "0x3" } });
    EXPECT_EQ(listObjects("1234"), errorDocument(nullptr));
    EXPECT_EQ(machine_.calls(),
        joined({ beforeTheSession(),
            { gd + "C_OpenSession slot=1 flags=0x6 pApplication=NULL notify=NULL phSession=set -> 0x3" },
            finalizing(gd) }));

    // A module that answers CKR_OK but hands out handle 0 is no better.
    machine_.script({ { "slots", { slot(1, "0A1B") } }, { "sessionHandles", { 0 } } });
    EXPECT_EQ(listObjects("1234"), errorDocument(nullptr));
    EXPECT_EQ(machine_.calls(), joined({ beforeTheSession(), { openReadWrite() }, finalizing(gd) }));
}

TEST_F(ObjectList, SessionHandleGoesToEveryCall)
{
    machine_.install(kGdPath);
    Json script = oneSlot(slot(1, "0A1B"));
    script["sessionHandles"] = { 4294967295ULL };
    script["slots"][0]["objects"] = { object(11, kPrivateKey, "", "key") };
    machine_.script(script);
    EXPECT_EQ(listObjects("ND"), successDocument({ record("", "key", false, true, false) }));
    const Lines calls = machine_.calls();
    ASSERT_GT(calls.size(), 18u);
    for (std::size_t i = 18; i + 1 < calls.size(); ++i)
        EXPECT_NE(calls[i].find(" session=4294967295 "), std::string::npos) << calls[i];
    EXPECT_EQ(calls.back(), finalizing(gd).front());
}

} // namespace
