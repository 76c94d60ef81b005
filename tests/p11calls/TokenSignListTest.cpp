// A batch signed on a token as the module sees it: one login and one session
// for the whole list, and a failing item ends it with nothing answered.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include "Scripts.h"
#include "TokenMachine.h"

namespace {

const std::string kKeyIdHex = "4b00ff";
const std::string kCertificateHex = "3082010a0201";

std::string base64(const std::string& bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    return out.substr(0, static_cast<std::size_t>(length));
}

// One GD token whose private key shows after login; every signature is a1b2.
Json tokenScript(bool withKey = true)
{
    Json token = slot(1, "0A1B");
    Json cert = certificate(12, kCertificateHex);
    cert["attributes"]["CKA_ID"] = { { "hex", kKeyIdHex } };
    Json key = object(11, kPrivateKey, kKeyIdHex, "key");
    key["afterLogin"] = true;
    token["objects"] = withKey ? Json { cert, key } : Json { cert };
    return { { "slots", { token } }, { "signature", { { "hex", "a1b2" } } } };
}

std::vector<std::string> signList(const Json& list)
{
    return { "pkcs11", "crypt", "signList", "GD", sha1Hex(std::string("\x30\x82\x01\x0a\x02\x01", 6)), "sha1", "1234",
        base64(list.dump()) };
}

Json item(const Json& id, const std::string& value, bool hashedData)
{
    return { { "id", id }, { "value", base64(value) }, { "hashedData", hashedData } };
}

std::size_t count(const Lines& calls, const std::string& fragment)
{
    std::size_t n = 0;
    for (const auto& call : calls)
        n += call.find(fragment) != std::string::npos;
    return n;
}

const std::string kSha1Prefix = "3021300906052b0e03021a05000414";
const std::string kDigest(20, '\x5a');
const Json kThree = { item(1, "abc", false), item("two", kDigest, true), item({ { "n", 3 } }, "", false) };

class TokenSignList : public ::testing::Test {
protected:
    TokenMachine machine_;
    void SetUp() override { machine_.install(kGdPath); }
};

TEST_F(TokenSignList, OneLoginOneSessionForTheWholeList)
{
    machine_.script(tokenScript());
    EXPECT_EQ(machine_.run(signList(kThree)),
        successDocument(R"([{"data":"YWJj","id":1,"signed":"obI="},{"data":")" + base64(kDigest)
            + R"(","id":"two","signed":"obI="},{"data":"","id":{"n":3},"signed":"obI="}])"));
    const Lines calls = machine_.calls();
    EXPECT_EQ(count(calls, "C_Login "), 1u);
    EXPECT_EQ(count(calls, "C_OpenSession slot=1 flags=0x6 "), 1u);
    EXPECT_EQ(count(calls, "C_SignInit session=3 "), 3u);
    // The ready digest goes behind the prefix as it came.
    EXPECT_EQ(count(calls, "C_Sign session=3 data=hex:" + kSha1Prefix + hexOf(kDigest) + " dataLen=35"), 2u);
    EXPECT_EQ(Lines(calls.end() - 3, calls.end()), joined({ closing(gd, "3"), finalizing(gd) }));

    // Nothing to sign: no token is opened, no PIN sent.
    for (const std::string list : { "null", "[]" }) {
        EXPECT_EQ(machine_.run(signList(Json::parse(list))), successDocument("[]"));
        EXPECT_EQ(count(machine_.calls(), "C_Login"), 0u);
    }
}

struct Failure {
    const char* what;
    Json list;
    Json rv;
    bool withKey;
    std::string message;
    std::size_t signInits;
    bool closes;
};

class TokenSignListFailure : public TokenSignList, public ::testing::WithParamInterface<Failure> { };

TEST_P(TokenSignListFailure, AnswersTheMessageAlone)
{
    const Failure& f = GetParam();
    Json script = tokenScript(f.withKey);
    script["rv"] = f.rv;
    machine_.script(script);
    EXPECT_EQ(machine_.run(signList(f.list)), errorDocument(f.message));
    const Lines calls = machine_.calls();
    EXPECT_EQ(count(calls, "C_SignInit"), f.signInits);
    EXPECT_EQ(count(calls, "C_CloseSession session=3 "), f.closes ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(EveryCause, TokenSignListFailure,
    ::testing::Values(Failure { "login", kThree, { { "C_Login", "0xa0" } }, true, "Erro no Login - Pin incorreto", 0,
                          false },
        Failure { "no key", kThree, Json::object(), false, "Nenhuma chave privada encontrada para o certificado", 0,
            true },
        Failure { "short digest", { item(1, "abc", false), item(2, kDigest.substr(1), true), item(3, "d", false) },
            Json::object(), true, "Tamanho data nao condiz com algoritmo utilizado", 1, true },
        Failure { "third sign", kThree, { { "C_Sign", { { "5", "0x30" } } } }, true,
            "Erro na assinatura: Erro no dispositivo", 3, true },
        Failure { "value type", { item(1, "abc", false), { { "value", 7 } } }, Json::object(), true,
            "[json.exception.type_error.302] type must be string, but is number", 1, true }),
    [](const ::testing::TestParamInfo<Failure>& info) {
        std::string name;
        for (const char* c = info.param.what; *c; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

} // namespace
