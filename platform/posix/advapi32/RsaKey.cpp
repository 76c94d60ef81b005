// OpenSSL's headers come first: <wincrypt.h> defines X509_NAME as a macro.
// Key files are read with the RSA structure's own ASN.1 decoder, which wipes
// what it frees; OpenSSL 3.0's provider decoders (PEM_read_bio_PrivateKey)
// leave copies of the key's DER in freed memory.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/core_names.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "advapi32/RsaKey.h"

#include <cstring>
#include <vector>

namespace standin {
namespace {

constexpr DWORD kPublicMagic = 0x31415352;  // "RSA1"
constexpr DWORD kPrivateMagic = 0x32415352;  // "RSA2"
constexpr unsigned kPublicExponent = 65537;
constexpr char kExportableLine[] = "exportable: ";

// Key material is wiped wherever the stand-in frees or drops it.
struct BnFree {
    void operator()(BIGNUM* bn) const { BN_clear_free(bn); }
};
using Bignum = std::unique_ptr<BIGNUM, BnFree>;

struct ParamBldFree {
    void operator()(OSSL_PARAM_BLD* bld) const { OSSL_PARAM_BLD_free(bld); }
};
struct ParamFree {
    void operator()(OSSL_PARAM* params) const { OSSL_PARAM_free(params); }
};
struct BioFree {
    void operator()(BIO* bio) const { BIO_free(bio); }
};
struct Pkcs8Free {
    void operator()(PKCS8_PRIV_KEY_INFO* info) const { PKCS8_PRIV_KEY_INFO_free(info); }
};
struct PemText {
    char* name = nullptr;
    char* header = nullptr;
    unsigned char* data = nullptr;
    long size = 0;
    ~PemText()
    {
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_secure_clear_free(data, static_cast<std::size_t>(size));
    }
};

// The RSA key of an unencrypted PKCS#8 PEM text, every copy of it wiped.
EVP_PKEY* readPrivateKey(BIO* bio)
{
    PemText pem;
    if (PEM_read_bio_ex(bio, &pem.name, &pem.header, &pem.data, &pem.size, PEM_FLAG_SECURE | PEM_FLAG_EAY_COMPATIBLE)
            != 1
        || std::strcmp(pem.name, PEM_STRING_PKCS8INF) != 0)
        return nullptr;
    const unsigned char* cursor = pem.data;
    std::unique_ptr<PKCS8_PRIV_KEY_INFO, Pkcs8Free> info(d2i_PKCS8_PRIV_KEY_INFO(nullptr, &cursor, pem.size));
    const unsigned char* inner = nullptr;
    int innerSize = 0;
    const X509_ALGOR* algorithm = nullptr;
    const ASN1_OBJECT* oid = nullptr;
    if (!info || PKCS8_pkey_get0(nullptr, &inner, &innerSize, &algorithm, info.get()) != 1)
        return nullptr;
    X509_ALGOR_get0(&oid, nullptr, nullptr, algorithm);
    if (OBJ_obj2nid(oid) != NID_rsaEncryption)
        return nullptr;
    RSA* rsa = d2i_RSAPrivateKey(nullptr, &inner, innerSize);
    EvpPkey key(EVP_PKEY_new());
    if (!rsa || !key || EVP_PKEY_assign_RSA(key.get(), rsa) != 1) {
        RSA_free(rsa);
        return nullptr;
    }
    return key.release();
}

// The parts of a PRIVATEKEYBLOB after the modulus, in blob order, with their
// widths: whole (the modulus width) or half of it.
struct BlobPart {
    const char* param;
    bool half;
};
constexpr BlobPart kPrivateParts[] = {
    {OSSL_PKEY_PARAM_RSA_FACTOR1, true},      {OSSL_PKEY_PARAM_RSA_FACTOR2, true},
    {OSSL_PKEY_PARAM_RSA_EXPONENT1, true},    {OSSL_PKEY_PARAM_RSA_EXPONENT2, true},
    {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, true}, {OSSL_PKEY_PARAM_RSA_D, false},
};

DWORD wholeWidth(DWORD bits) { return (bits + 7) / 8; }
DWORD halfWidth(DWORD bits) { return (bits + 15) / 16; }

template <typename T> void appendStruct(std::string& out, const T& value)
{
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

bool appendLittleEndian(std::string& out, const EVP_PKEY* key, const char* param, DWORD width)
{
    BIGNUM* raw = nullptr;
    if (EVP_PKEY_get_bn_param(key, param, &raw) != 1)
        return false;
    Bignum value(raw);
    std::vector<unsigned char> bytes(width);
    if (BN_bn2lebinpad(value.get(), bytes.data(), static_cast<int>(width)) < 0)
        return false;
    out.append(bytes.begin(), bytes.end());
    OPENSSL_cleanse(bytes.data(), bytes.size());
    return true;
}

DWORD bitsOf(const EVP_PKEY* key) { return static_cast<DWORD>(EVP_PKEY_get_bits(key)); }

}  // namespace

RsaKey::RsaKey(EvpPkey key, ALG_ID algId, bool exportable)
    : key_(std::move(key))
    , algId_(algId)
    , exportable_(exportable)
    , bits_(bitsOf(key_.get()))
{
}

std::shared_ptr<RsaKey> RsaKey::generate(DWORD bits, ALG_ID algId, bool exportable)
{
    EvpPkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    if (!ctx || EVP_PKEY_keygen_init(ctx.get()) != 1
        || EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), static_cast<int>(bits)) != 1)
        return nullptr;
    Bignum exponent(BN_new());
    if (!exponent || BN_set_word(exponent.get(), kPublicExponent) != 1
        || EVP_PKEY_CTX_set1_rsa_keygen_pubexp(ctx.get(), exponent.get()) != 1)
        return nullptr;
    EVP_PKEY* raw = nullptr;
    if (EVP_PKEY_generate(ctx.get(), &raw) != 1)
        return nullptr;
    return std::make_shared<RsaKey>(EvpPkey(raw), algId, exportable);
}

std::shared_ptr<RsaKey> RsaKey::fromBlob(const BYTE* blob, DWORD size, DWORD& error)
{
    error = NTE_BAD_DATA;
    if (!blob || size < sizeof(BLOBHEADER) + sizeof(RSAPUBKEY))
        return nullptr;
    BLOBHEADER header;
    RSAPUBKEY rsa;
    std::memcpy(&header, blob, sizeof header);
    std::memcpy(&rsa, blob + sizeof header, sizeof rsa);
    // Key pairs only: no caller imports a public key alone.
    if (header.bType != PRIVATEKEYBLOB) {
        error = NTE_BAD_TYPE;
        return nullptr;
    }
    if (header.bVersion != CUR_BLOB_VERSION) {
        error = NTE_BAD_VER;
        return nullptr;
    }
    if (header.aiKeyAlg != CALG_RSA_KEYX && header.aiKeyAlg != CALG_RSA_SIGN) {
        error = NTE_BAD_ALGID;
        return nullptr;
    }
    if (rsa.magic != kPrivateMagic || rsa.bitlen == 0 || rsa.bitlen > kMaximumBits
        || rsa.pubexp == 0)
        return nullptr;

    const DWORD whole = wholeWidth(rsa.bitlen);
    const DWORD half = halfWidth(rsa.bitlen);
    DWORD needed = sizeof header + sizeof rsa + whole;
    for (const auto& part : kPrivateParts)
        needed += part.half ? half : whole;
    if (size < needed)
        return nullptr;

    std::unique_ptr<OSSL_PARAM_BLD, ParamBldFree> builder(OSSL_PARAM_BLD_new());
    std::vector<Bignum> numbers;
    const BYTE* cursor = blob + sizeof header + sizeof rsa;
    auto take = [&](const char* param, DWORD width) {
        numbers.emplace_back(BN_lebin2bn(cursor, static_cast<int>(width), nullptr));
        cursor += width;
        // Secure numbers go to the block of the parameters that
        // OSSL_PARAM_free wipes.
        if (numbers.back())
            BN_set_flags(numbers.back().get(), BN_FLG_SECURE);
        return numbers.back() && OSSL_PARAM_BLD_push_BN(builder.get(), param, numbers.back().get()) == 1;
    };
    Bignum exponent(BN_new());
    bool built = builder && exponent && BN_set_word(exponent.get(), rsa.pubexp) == 1
        && OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, exponent.get()) == 1
        && take(OSSL_PKEY_PARAM_RSA_N, whole);
    for (const auto& part : kPrivateParts)
        built = built && take(part.param, part.half ? half : whole);
    if (!built)
        return nullptr;
    std::unique_ptr<OSSL_PARAM, ParamFree> params(OSSL_PARAM_BLD_to_param(builder.get()));
    EvpPkeyCtx ctx(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    EVP_PKEY* raw = nullptr;
    if (!params || !ctx || EVP_PKEY_fromdata_init(ctx.get()) != 1
        || EVP_PKEY_fromdata(ctx.get(), &raw, EVP_PKEY_KEYPAIR, params.get()) != 1)
        return nullptr;
    EvpPkey key(raw);
    // A modulus whose top bytes are zero is shorter than the header claims.
    if (bitsOf(key.get()) > rsa.bitlen || wholeWidth(bitsOf(key.get())) != whole)
        return nullptr;
    error = ERROR_SUCCESS;
    return std::make_shared<RsaKey>(std::move(key), header.aiKeyAlg, false);
}

std::shared_ptr<RsaKey> RsaKey::fromFileText(const std::string& text, ALG_ID algId)
{
    const std::size_t prefix = sizeof kExportableLine - 1;
    const std::size_t lineEnd = text.find('\n');
    if (lineEnd != prefix + 1 || text.compare(0, prefix, kExportableLine) != 0)
        return nullptr;
    const char flag = text[prefix];
    if (flag != '0' && flag != '1')
        return nullptr;
    std::unique_ptr<BIO, BioFree> bio(
        BIO_new_mem_buf(text.data() + lineEnd + 1, static_cast<int>(text.size() - lineEnd - 1)));
    if (!bio)
        return nullptr;
    EvpPkey key(readPrivateKey(bio.get()));
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA)
        return nullptr;
    return std::make_shared<RsaKey>(std::move(key), algId, flag == '1');
}

std::string RsaKey::fileText() const
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PKCS8PrivateKey(bio.get(), key_.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return{};
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    // Sized once, so that growing leaves no copy of the key behind.
    std::string text;
    text.reserve(sizeof kExportableLine + 1 + static_cast<std::size_t>(size));
    text.append(kExportableLine).append(exportable_ ? "1" : "0").append("\n").append(data, static_cast<std::size_t>(size));
    return text;
}

std::string RsaKey::publicBlob() const
{
    BIGNUM* rawExponent = nullptr;
    if (EVP_PKEY_get_bn_param(key_.get(), OSSL_PKEY_PARAM_RSA_E, &rawExponent) != 1)
        return{};
    Bignum exponent(rawExponent);
    if (BN_num_bits(exponent.get()) > 32)
        return{};
    const BLOBHEADER header{PUBLICKEYBLOB, CUR_BLOB_VERSION, 0, algId_};
    const RSAPUBKEY rsa {kPublicMagic, bits_, static_cast<DWORD>(BN_get_word(exponent.get()))};
    std::string out;
    appendStruct(out, header);
    appendStruct(out, rsa);
    if (!appendLittleEndian(out, key_.get(), OSSL_PKEY_PARAM_RSA_N, wholeWidth(bits_)))
        return{};
    return out;
}

bool RsaKey::sign(const unsigned char* input, std::size_t size, std::string& signature) const
{
    std::lock_guard<std::mutex> lock(signMutex_);
    if (!signCtx_) {
        EvpPkeyCtx ctx(EVP_PKEY_CTX_new_from_pkey(nullptr, key_.get(), nullptr));
        if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1
            || EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1)
            return false;
        signCtx_ = std::move(ctx);
    }
    std::size_t length = size_t{wholeWidth(bits_)};
    std::string out(length, '\0');
    if (EVP_PKEY_sign(signCtx_.get(), reinterpret_cast<unsigned char*>(out.data()), &length, input, size) != 1)
        return false;
    // A signature whose top bytes are zero still fills the modulus width.
    out.resize(length);
    signature.assign(wholeWidth(bits_) - length, '\0');
    signature += out;
    return true;
}

}  // namespace standin
