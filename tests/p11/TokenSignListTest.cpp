// A batch signed on a SoftHSM2 token in one request: data and ready digests
// under every algorithm, each signature checked by OpenSSL against the
// certificate, the caller's ids answered in list order.
#include "SoftHsmTest.h"

#include <fstream>

#include "Encoding.h"

namespace {

using nlohmann::json;

class TokenSignList : public SoftHsmTest {
protected:
    std::string file(const std::string& name) const { return machine_.directory() + "/" + name; }
    std::string encodedFile(const std::string& name) const
    {
        std::ifstream in(file(name), std::ios::binary);
        const std::string bytes(std::istreambuf_iterator<char>(in), {});
        return base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    }
};

TEST_F(TokenSignList, SignsDataAndDigestsInOneRequest)
{
    machine_.initToken("Batch", "1234");
    machine_.installSoftHsmAsGd();
    const std::string certificate = machine_.makeCertificate("batch");
    machine_.tool({ "pkcs11-tool", "--module", kSoftHsmModule, "--token-label", "Batch", "--login", "--pin", "1234",
        "--write-object", file("batch.key"), "--type", "privkey", "--id", "01", "--label", "batch" });
    machine_.writeCertificate("Batch", "1234", certificate, "01", "batch");
    machine_.tool({ "openssl", "x509", "-inform", "DER", "-in", certificate, "-pubkey", "-noout", "-out",
        file("pub.pem") });
    const std::string thumbprint = SoftHsmMachine::fingerprint(certificate);

    const std::vector<std::string> documents = { "invoice 1", "receipt 2", "invoice 3", "" };
    const json ids = { 0, "r-1", { { "doc", 2 } }, nullptr };
    for (std::size_t i = 0; i < documents.size(); ++i)
        std::ofstream(file("document" + std::to_string(i)), std::ios::binary) << documents[i];
    for (const std::string algorithm : { "sha1", "sha256", "sha512" }) {
        SCOPED_TRACE(algorithm);
        // Odd items are ready digests, made by OpenSSL.
        json list = json::array();
        for (std::size_t i = 0; i < documents.size(); ++i) {
            const std::string name = "document" + std::to_string(i);
            if (i % 2)
                machine_.tool({ "openssl", "dgst", "-" + algorithm, "-binary", "-out", file("digest"), file(name) });
            list.push_back({ { "id", ids[i] }, { "value", encodedFile(i % 2 ? "digest" : name) },
                { "hashedData", i % 2 == 1 } });
            if (ids[i].is_null())
                list.back().erase("id"); // answered as null
        }
        const std::string text = success({ "pkcs11", "crypt", "signList", "GD", thumbprint, algorithm, "1234",
            base64Encode(reinterpret_cast<const unsigned char*>(list.dump().data()), list.dump().size()) });
        const json answer = json::parse(text);
        EXPECT_EQ(answer.dump(), text);
        ASSERT_EQ(answer.size(), documents.size()) << text;
        for (std::size_t i = 0; i < documents.size(); ++i) {
            EXPECT_EQ(answer[i]["id"], ids[i]);
            EXPECT_EQ(answer[i]["data"], list[i]["value"]);
            const Bytes signature = base64Decode(answer[i]["signed"].get<std::string>());
            std::ofstream(file("signature"), std::ios::binary)
                .write(reinterpret_cast<const char*>(signature.data()), static_cast<std::streamsize>(signature.size()));
            EXPECT_EQ(runProcess({ "openssl", "dgst", "-" + algorithm, "-verify", file("pub.pem"), "-signature",
                          file("signature"), file("document" + std::to_string(i)) })
                          .exitCode,
                0)
                << i;
        }
    }
}

} // namespace
