#include "CapiMachine.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

#include <unistd.h>

namespace {

constexpr int kKeyBits = 2048;

// BLOBHEADER and RSAPUBKEY of a PRIVATEKEYBLOB, little-endian.
constexpr unsigned char kPrivateKeyBlob = 0x07;
constexpr unsigned char kCurBlobVersion = 0x02;
constexpr std::uint32_t kCalgRsaKeyx = 0xa400;
constexpr char kRsa2Magic[] = "RSA2";

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct X509Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct BnFree {
    void operator()(BIGNUM* number) const { BN_free(number); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;

// One RSA key serves the whole test program; the certificates differ.
EVP_PKEY* suiteKey()
{
    static Pkey key(EVP_RSA_gen(kKeyBits));
    if (!key)
        throw std::runtime_error("RSA key generation failed");
    return key.get();
}

void appendLittleEndian(std::string& out, std::uint32_t value, int size)
{
    for (int i = 0; i < size; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xff);
}

void appendNumber(std::string& out, EVP_PKEY* key, const char* name, int size)
{
    BIGNUM* raw = nullptr;
    if (!EVP_PKEY_get_bn_param(key, name, &raw))
        throw std::runtime_error(std::string("no RSA parameter ") + name);
    std::unique_ptr<BIGNUM, BnFree> number(raw);
    std::string bytes(static_cast<std::size_t>(size), '\0');
    BN_bn2lebinpad(number.get(), reinterpret_cast<unsigned char*>(&bytes[0]), size);
    out += bytes;
}

std::string privateKeyBlob(EVP_PKEY* key)
{
    const int length = kKeyBits / 8;
    std::string blob;
    blob += static_cast<char>(kPrivateKeyBlob);
    blob += static_cast<char>(kCurBlobVersion);
    appendLittleEndian(blob, 0, 2);
    appendLittleEndian(blob, kCalgRsaKeyx, 4);
    blob += kRsa2Magic;
    appendLittleEndian(blob, kKeyBits, 4);
    BIGNUM* exponent = nullptr;
    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &exponent);
    appendLittleEndian(blob, static_cast<std::uint32_t>(BN_get_word(exponent)), 4);
    BN_free(exponent);
    appendNumber(blob, key, OSSL_PKEY_PARAM_RSA_N, length);
    appendNumber(blob, key, OSSL_PKEY_PARAM_RSA_FACTOR1, length / 2);
    appendNumber(blob, key, OSSL_PKEY_PARAM_RSA_FACTOR2, length / 2);
    appendNumber(blob, key, OSSL_PKEY_PARAM_RSA_EXPONENT1, length / 2);
    appendNumber(blob, key, OSSL_PKEY_PARAM_RSA_EXPONENT2, length / 2);
    appendNumber(blob, key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1, length / 2);
    appendNumber(blob, key, OSSL_PKEY_PARAM_RSA_D, length);
    return blob;
}

// A self-signed certificate for the suite's key, DER-encoded.
std::string selfSignedCertificate(long serial, const std::string& commonName)
{
    std::unique_ptr<X509, X509Free> certificate(X509_new());
    X509_set_version(certificate.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), serial);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                               -1, -1, 0);
    X509_set_issuer_name(certificate.get(), name);
    X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 86400L * 30);
    X509_set_pubkey(certificate.get(), suiteKey());
    if (!X509_sign(certificate.get(), suiteKey(), EVP_sha256()))
        throw std::runtime_error("certificate signing failed");
    unsigned char* der = nullptr;
    const int length = i2d_X509(certificate.get(), &der);
    std::string bytes(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
    OPENSSL_free(der);
    return bytes;
}

std::string hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

std::string publicKeyPem()
{
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    PEM_write_bio_PUBKEY(bio.get(), suiteKey());
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(length));
}

std::string fixtureProgram()
{
    if (underWine()) {
        const std::string exe = std::getenv("SIGBRID_EXE");
        return exe.substr(0, exe.find_last_of('/') + 1) + "capi_fixture.exe";
    }
    const char* fixture = std::getenv("CAPI_FIXTURE_EXE");
    if (!fixture || !*fixture)
        throw std::runtime_error("CAPI_FIXTURE_EXE is not set");
    return fixture;
}

// Windows programs under Wine reach host files through drive Z:.
std::string programPath(const std::string& path) { return underWine() ? "Z:" + path : path; }

// The stand-in's providers: Windows' RSA software providers and smart-card
// providers installed beside them.
constexpr const char* kStandInProviders = "1 Microsoft Base Cryptographic Provider v1.0\n"
                                          "1 Microsoft Base Smart Card Crypto Provider\n"
                                          "1 Microsoft Enhanced Cryptographic Provider v1.0\n"
                                          "24 Microsoft Enhanced RSA and AES Cryptographic Provider\n"
                                          "1 Microsoft Strong Cryptographic Provider\n"
                                          "1 eToken Base Cryptographic Provider\n"
                                          "1 SafeSign Standard Cryptographic Service Provider\n";

// Wine has no smart-card providers; these names are served by its software
// provider, as a card vendor's CSP would be registered.
constexpr const char* kWineProviders = "REGEDIT4\n\n"
                                       "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Cryptography\\Defaults\\Provider\\"
                                       "eToken Base Cryptographic Provider]\n"
                                       "\"Image Path\"=\"rsaenh.dll\"\n\"Type\"=dword:00000001\n"
                                       "\"SigInFile\"=dword:00000000\n\n"
                                       "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Cryptography\\Defaults\\Provider\\"
                                       "Microsoft Base Smart Card Crypto Provider]\n"
                                       "\"Image Path\"=\"rsaenh.dll\"\n\"Type\"=dword:00000001\n"
                                       "\"SigInFile\"=dword:00000000\n";

}  // namespace

CapiMachine::CapiMachine()
{
    // Wine reads the command line in the locale's character set.
    environment_["LC_ALL"] = "C.UTF-8";
    if (underWine()) {
        static bool registered = false;
        if (!registered) {
            const std::string file = writeFile("providers.reg", kWineProviders);
            const ProcessResult result = runProcess({std::getenv("SIGBRID_RUNNER"), "reg", "import", programPath(file)},
                                                    environment_);
            if (result.exitCode != 0)
                throw std::runtime_error("reg import failed: " + result.err);
            registered = true;
        }
    } else {
        environment_["SIGBRID_WINROOT"] = work_.path() + "/machine";
        std::filesystem::create_directories(work_.path() + "/machine");
        std::ofstream(work_.path() + "/machine/providers", std::ios::binary) << kStandInProviders;
    }
}

std::string CapiMachine::newContainerName(const std::string& stem)
{
    static std::atomic<int> counter{0};
    return stem + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

std::string CapiMachine::writeFile(const std::string& name, const std::string& bytes) const
{
    const std::string path = work_.path() + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

void CapiMachine::fixture(const std::vector<std::string>& args) const
{
    std::vector<std::string> argv;
    if (underWine())
        argv.push_back(std::getenv("SIGBRID_RUNNER"));
    argv.push_back(fixtureProgram());
    argv.insert(argv.end(), args.begin(), args.end());
    const ProcessResult result = runProcess(argv, environment_);
    if (result.exitCode != 0)
        throw std::runtime_error("capi_fixture " + args.at(0) + " failed: " + result.err);
}

void CapiMachine::importKey(const std::string& provider, int type, const std::string& container)
{
    const std::string blob = writeFile("key.blob", privateKeyBlob(suiteKey()));
    fixture({"key", provider, std::to_string(type), container, programPath(blob)});
}

void CapiMachine::createContainer(const std::string& provider, int type, const std::string& container)
{
    fixture({"container", provider, std::to_string(type), container});
}

Identity CapiMachine::addCertificate(const std::string& container, const std::string& provider, int type,
                                     unsigned flags, int keySpec)
{
    static std::atomic<long> serial{static_cast<long>(getpid()) * 1000};
    const std::string der = selfSignedCertificate(++serial, "sigbrid test " + std::to_string(serial.load()));
    const std::string file = writeFile("certificate.der", der);
    if (container.empty())
        fixture({"cert", programPath(file)});
    else
        fixture({"cert", programPath(file), container, provider, std::to_string(type), std::to_string(flags),
                 std::to_string(keySpec)});
    unsigned char sha1[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(der.data(), der.size(), sha1, &length, EVP_sha1(), nullptr);
    return {hex(std::string(reinterpret_cast<char*>(sha1), length)), writeFile("public.pem", publicKeyPem()),
            container};
}

Identity CapiMachine::install(const std::string& provider, int type)
{
    const std::string container = newContainerName();
    importKey(provider, type, container);
    return addCertificate(container, provider, type);
}

ProcessResult CapiMachine::sigbrid(const std::vector<std::string>& args,
                                   const std::map<std::string, std::string>& extra) const
{
    auto environment = environment_;
    for (const auto& [key, value] : extra)
        environment[key] = value;
    ProcessResult result = runSigbrid(args, environment);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.err, "");
    return result;
}

std::string CapiMachine::success(const std::vector<std::string>& args,
                                 const std::map<std::string, std::string>& extra) const
{
    const std::string out = sigbrid(args, extra).out;
    const auto envelope = nlohmann::json::parse(out, nullptr, false);
    if (envelope.is_object() && envelope.size() == 1 && envelope.contains("success")
        && envelope["success"].is_string())
        return envelope["success"].get<std::string>();
    ADD_FAILURE() << "expected a success envelope, got " << out;
    return "";
}

std::string CapiMachine::error(const std::vector<std::string>& args,
                               const std::map<std::string, std::string>& extra) const
{
    const std::string out = sigbrid(args, extra).out;
    const auto envelope = nlohmann::json::parse(out, nullptr, false);
    if (envelope.is_object() && envelope.size() == 1 && envelope.contains("error") && envelope["error"].is_string())
        return envelope["error"].get<std::string>();
    ADD_FAILURE() << "expected an error envelope, got " << out;
    return "";
}

bool CapiMachine::verifies(const Identity& identity, const std::string& digestName, const std::string& data,
                           const std::string& signature, bool isDigest) const
{
    const std::string signatureFile = writeFile("signature.bin", unbase64(signature));
    const std::string dataFile = writeFile("signed.bin", data);
    const std::vector<std::string> command =
        isDigest ? std::vector<std::string>{"openssl", "pkeyutl", "-verify", "-pubin", "-inkey",
                                            identity.publicKeyPem, "-sigfile", signatureFile, "-in", dataFile,
                                            "-pkeyopt", "digest:" + digestName}
                 : std::vector<std::string>{"openssl", "dgst", "-" + digestName, "-verify", identity.publicKeyPem,
                                            "-signature", signatureFile, dataFile};
    return runProcess(command).exitCode == 0;
}

std::string base64(const std::string& bytes)
{
    std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&text[0]),
                                       reinterpret_cast<const unsigned char*>(bytes.data()),
                                       static_cast<int>(bytes.size()));
    text.resize(static_cast<std::size_t>(length));
    return text;
}

std::string unbase64(const std::string& text)
{
    std::string bytes(3 * (text.size() / 4) + 3, '\0');
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&bytes[0]),
                                       reinterpret_cast<const unsigned char*>(text.data()),
                                       static_cast<int>(text.size()));
    if (length < 0)
        return "";
    std::size_t size = static_cast<std::size_t>(length);
    for (auto it = text.rbegin(); it != text.rend() && *it == '=' && size > 0; ++it)
        --size;
    bytes.resize(size);
    return bytes;
}

std::string digestOf(const std::string& digestName, const std::string& data)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_get_digestbyname(digestName.c_str()), nullptr);
    return std::string(reinterpret_cast<char*>(digest), length);
}
