// The token flow as a calling application runs it on SoftHSM2: a key pair
// made on the token, its public key read back, a certificate issued for it by
// a throw-away CA, imported, listed and used to sign, alone and in a batch;
// OpenSSL checks every signature against the certificate.
#include "SoftHsmTest.h"

#include <algorithm>

#include "Encoding.h"

namespace {

using nlohmann::json;

using TokenFlow = SoftHsmTest;

TEST_F(TokenFlow, CreateIssueImportListAndSign)
{
    const auto file = [&](const std::string& name) { return machine_.directory() + "/" + name; };
    const std::string serial = machine_.initToken("Flow", "1234");
    machine_.link(R"(C:\Windows\System32\asepkcs.dll)", kSoftHsmModule);

    // Two key pairs under one label: the same tail, a different random head.
    const std::string keyId
        = machine_.success({ "pkcs11", "repo", "createKeyPair", "AT", serial, "Flow Signer", "2048", "1234" });
    const std::string other
        = machine_.success({ "pkcs11", "repo", "createKeyPair", "AT", serial, "Flow Signer", "2048", "1234" });
    EXPECT_EQ(unbase64(keyId).substr(4), "-" + base64("Flow Signer"));
    EXPECT_EQ(unbase64(other).substr(4), "-" + base64("Flow Signer"));
    EXPECT_NE(other, keyId);

    // A throw-away CA issues the certificate for the modulus that getPublicKey
    // answers (and the exponent of the key pair's template): the signatures
    // below verify only with the token's own public key.
    const std::string modulus = machine_.success({ "pkcs11", "repo", "getPublicKey", "AT", serial, keyId });
    EXPECT_EQ(machine_.success({ "pkcs11", "repo", "getPublicKey", "AT", serial, base64("no such key") }), "");
    // OpenSC's own reading of the token's public key holds the same modulus.
    machine_.tool({ "pkcs11-tool", "--module", kSoftHsmModule, "--token-label", "Flow", "--read-object", "--type",
        "pubkey", "--id", hexEncode(base64Decode(keyId)), "--output-file", file("read.der") });
    const std::string read = machine_.tool({ "openssl", "rsa", "-pubin", "-inform", "DER", "-in", file("read.der"),
                                               "-noout", "-modulus" }).out;
    std::string hex = hexEncode(base64Decode(modulus));
    std::transform(hex.begin(), hex.end(), hex.begin(), ::toupper);
    EXPECT_EQ(read, "Modulus=" + hex + "\n");
    const std::string key = machine_.writeFile("key.conf",
        "asn1=SEQUENCE:key\n[key]\nn=INTEGER:0x" + hexEncode(base64Decode(modulus)) + "\ne=INTEGER:65537\n");
    machine_.tool({ "openssl", "asn1parse", "-genconf", key, "-noout", "-out", file("pub.der") });
    machine_.tool({ "openssl", "rsa", "-RSAPublicKey_in", "-inform", "DER", "-in", file("pub.der"), "-pubout", "-out",
        file("pub.pem") });
    machine_.tool({ "openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", file("ca.key"), "-out",
        file("ca.pem"), "-subj", "/CN=Test CA", "-days", "2" });
    machine_.tool({ "openssl", "x509", "-new", "-CA", file("ca.pem"), "-CAkey", file("ca.key"), "-force_pubkey",
        file("pub.pem"), "-subj", "/CN=Flow Signer", "-days", "2", "-outform", "DER", "-out", file("cert.der") });
    const std::string der = readFile(file("cert.der"));

    std::vector<std::string> import
        = { "pkcs11", "repo", "importCertificate", "AT", serial, keyId, "Flow Signer", "1234", base64(der) };
    EXPECT_EQ(machine_.success(import), "certificado adicionado com sucesso: " + keyId);
    const Identity signer { sha1Hex(der), der, "" };
    const std::string& thumbprint = signer.thumbprint;
    EXPECT_EQ(listed({ "pkcs11", "list", "certificates", "AT" }),
        json::array({ { { "type", "AT" }, { "serial", serial }, { "thumbprint", thumbprint } } }));
    // Every algorithm, on data and on ready digests, by thumbprint and by key
    // identifier; an unknown name signs with SHA-256.
    const std::string message = "contract of sale, 3 pages";
    const std::string data = base64(message);
    const std::pair<std::string, std::string> algorithms[]
        = { { "sha1", "sha1" }, { "sha256", "sha256" }, { "SHA512", "sha256" }, { "sha512", "sha512" } };
    for (const auto& [name, digest] : algorithms) {
        SCOPED_TRACE(name);
        const std::string ready = base64(digestOf(digest, message));
        const std::vector<std::string> requests[] = { { "sign", "AT", thumbprint, name, "1234", data, "false" },
            { "sign", "AT", thumbprint, name, "1234", ready, "True" },
            { "signWithKeyId", "AT", serial, keyId, name, "1234", "false", data },
            { "signWithKeyId", "AT", serial, keyId, name, "1234", "TRUE", ready } };
        for (std::vector<std::string> request : requests) {
            request.insert(request.begin(), { "pkcs11", "crypt" });
            EXPECT_TRUE(verifies(signer, digest, message, machine_.success(request), false))
                << request[2] << " " << request[8];
        }
        // The same data and digest as one batch, with one login on a real
        // token (the answer's exact text is the call-sequence tests' part).
        const json list
            = { { { "value", data }, { "hashedData", false } }, { { "value", ready }, { "hashedData", true } } };
        const json batch = json::parse(
            machine_.success({ "pkcs11", "crypt", "signList", "AT", thumbprint, name, "1234", base64(list.dump()) }));
        ASSERT_EQ(batch.size(), 2u) << batch;
        for (const json& item : batch)
            EXPECT_TRUE(verifies(signer, digest, message, item["signed"], false)) << item;
    }

    // The PIN as the first line of standard input, kept out of the command
    // line, and the data from a file; a wrong PIN that way is refused.
    machine_.writeFile("data.b64", data + "\n");
    const std::vector<std::string> offLine
        = { "pkcs11", "crypt", "sign", "AT", thumbprint, "sha256", "@-", machine_.fromFile("data.b64"), "false" };
    EXPECT_TRUE(verifies(signer, "sha256", message, machine_.success(offLine, {}, "1234\n"), false));
    EXPECT_EQ(machine_.error(offLine, {}, "12345\r\n"), "Erro no Login - Pin incorreto");

    // SoftHSM2 wants a certificate's subject, which only the "AT" template
    // carries: through another module path it refuses the six attributes. It
    // keeps an empty certificate object then, so this comes last, and leaks
    // what it made, which the sanitizer build would report as ours.
    machine_.link(R"(C:\Windows\System32\aetpkss1.dll)", kSoftHsmModule);
    import[3] = "GD";
    EXPECT_EQ(
        machine_.error(import, { { "LSAN_OPTIONS", "detect_leaks=0" } }), "Erro na importação do certificado: 208");
}

} // namespace
