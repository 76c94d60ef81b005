// The advapi32 stand-in called directly, for what no request of sigbrid
// reaches: refusals and their Windows codes, the size protocol, provider lists
// and defaults, container names, and key state that survives a killed writer.
#include "StandInSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace standin {
namespace {

constexpr const char* kAes = MS_ENH_RSA_AES_PROV_A;
constexpr const char* kCard = "eToken Base Cryptographic Provider";

class Advapi32 : public ::testing::Test {
protected:
    Machine machine_;
};

BOOL opens(const char* container, const char* provider, DWORD type, DWORD flags)
{
    return acquire(container, provider, type, flags) ? TRUE : FALSE;
}

// An opening of the AES provider, as a refusal table's call.
std::function<BOOL()> openingAes(const char* container, DWORD flags)
{
    return [=] { return opens(container, kAes, PROV_RSA_AES, flags); };
}

std::vector<std::pair<std::string, DWORD>> enumerateProviders()
{
    std::vector<std::pair<std::string, DWORD>> providers;
    DWORD type = 0;
    char name[200];
    for (DWORD index = 0, size = sizeof name; CryptEnumProvidersA(index, nullptr, 0, &type, name, &size);
         ++index, size = sizeof name)
        providers.emplace_back(name, type);
    return providers;
}

// One PP_ENUMCONTAINERS call into a buffer of `size` bytes.
bool nextContainer(HCRYPTPROV context, DWORD flags, DWORD& size, std::string& name)
{
    name.assign(1000, '\0');
    if (!CryptGetProvParam(context, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name.data()), &size, flags))
        return false;
    name.resize(std::strlen(name.c_str()));
    return true;
}

TEST_F(Advapi32, ProviderListDefaultsAndReplacement)
{
    const std::vector<std::pair<std::string, DWORD>> windows = {
        { "Microsoft Base Cryptographic Provider v1.0", 1 },
        { "Microsoft Base DSS and Diffie-Hellman Cryptographic Provider", 13 },
        { "Microsoft Base DSS Cryptographic Provider", 3 },
        { "Microsoft Base Smart Card Crypto Provider", 1 },
        { "Microsoft DH SChannel Cryptographic Provider", 18 },
        { "Microsoft Enhanced Cryptographic Provider v1.0", 1 },
        { "Microsoft Enhanced DSS and Diffie-Hellman Cryptographic Provider", 13 },
        { "Microsoft Enhanced RSA and AES Cryptographic Provider", 24 },
        { "Microsoft RSA SChannel Cryptographic Provider", 12 },
        { "Microsoft Strong Cryptographic Provider", 1 },
    };
    EXPECT_EQ(enumerateProviders(), windows);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    // A null provider name opens the type's default.
    const std::pair<DWORD, std::string> defaults[] = { { PROV_RSA_FULL, MS_STRONG_PROV_A }, { PROV_RSA_AES, kAes },
        { PROV_RSA_SCHANNEL, MS_DEF_RSA_SCHANNEL_PROV_A } };
    for (const auto& [type, name] : defaults) {
        Context context = acquire(nullptr, nullptr, type, CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET);
        EXPECT_EQ(textParam(context.get(), PP_NAME), name);
        EXPECT_EQ(textParam(context.get(), PP_CONTAINER), "");
    }

    machine_.installProviders(
        "# test machine\n1 eToken Base Cryptographic Provider\n\n24 " MS_ENH_RSA_AES_PROV_A "\r\nnot a line\n");
    EXPECT_EQ(enumerateProviders(), (std::vector<std::pair<std::string, DWORD>> { { kCard, 1 }, { kAes, 24 } }));
}

TEST_F(Advapi32, RefusalsAndTheSizeProtocol)
{
    Context context = acquire("keyed", kAes, PROV_RSA_AES, CRYPT_NEWKEYSET);
    const Bytes blob = msBlob(testKey(), true);
    Key key = importKey(context.get(), blob, 0);
    Hash hash;
    ASSERT_TRUE(CryptCreateHash(context.get(), CALG_SHA_256, 0, 0, hash.out()));
    const HCRYPTPROV provider = context.get();
    // Handles that were never handed out, one of each kind.
    const HCRYPTPROV noProvider = 0x1234;
    const HCRYPTKEY noKey = 0x4321;
    const HCRYPTHASH noHash = 0x999;
    Bytes badVersion = blob;
    badVersion[1] = 3;
    Bytes badMagic = blob;
    badMagic[8] = 'X';
    const Bytes truncated(blob.begin(), blob.end() - 1);
    const Bytes certificate = makeCertificate(1);
    // Each non-ASCII byte takes three characters of the file name: 85 fit.
    const std::string tooLong(86, '\xe9');
    DWORD size = 0;
    DWORD type = 0;
    HCRYPTKEY newKey = 0;
    HCRYPTHASH newHash = 0;
    const std::vector<Refusal> refusals = {
        { [&] { return opens("absent", "No Such Provider", PROV_RSA_FULL, 0); }, NTE_KEYSET_NOT_DEF },
        { [&] { return opens(nullptr, kAes, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT); }, NTE_PROV_TYPE_NO_MATCH },
        { [&] { return opens(nullptr, kAes, 0, CRYPT_VERIFYCONTEXT); }, NTE_BAD_PROV_TYPE },
        { [&] { return opens(nullptr, nullptr, PROV_RSA_SIG, CRYPT_VERIFYCONTEXT); }, NTE_PROV_TYPE_NOT_DEF },
        { openingAes("named", CRYPT_VERIFYCONTEXT), NTE_BAD_FLAGS },
        // Key sets are the user's only, and none is deleted.
        { openingAes("keyed", CRYPT_DELETEKEYSET), NTE_BAD_FLAGS },
        { openingAes("keyed", CRYPT_MACHINE_KEYSET), NTE_BAD_FLAGS },
        { openingAes("keyed", CRYPT_SILENT), NTE_BAD_FLAGS },
        { openingAes(tooLong.c_str(), CRYPT_NEWKEYSET), NTE_BAD_KEYSET_PARAM },
        { [&] { return CryptAcquireContextA(nullptr, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT); },
            ERROR_INVALID_PARAMETER },
        { [&] { return CryptReleaseContext(noProvider, 0); }, NTE_BAD_UID },
        { [&] { return CryptGetProvParam(noProvider, PP_NAME, nullptr, &size, 0); }, NTE_BAD_UID },
        { [&] { return CryptGetProvParam(provider, 0x7777, nullptr, &size, 0); }, NTE_BAD_TYPE },
        { [&] { return CryptGetProvParam(provider, PP_NAME, nullptr, &size, CRYPT_FIRST); }, NTE_BAD_FLAGS },
        { [&] { return CryptGetProvParam(provider, PP_ENUMCONTAINERS, nullptr, &size, CRYPT_MACHINE_KEYSET); },
            NTE_BAD_FLAGS },
        // Names are read into the caller's buffer; there is no size query.
        { [&] { return CryptGetProvParam(provider, PP_ENUMCONTAINERS, nullptr, &size, CRYPT_FIRST); },
            ERROR_INVALID_PARAMETER },
        // Any reserved pointer is refused, whatever it points at.
        { [&] { return CryptEnumProvidersA(0, &type, 0, &type, nullptr, &size); }, ERROR_INVALID_PARAMETER },
        { [&] { return CryptEnumProvidersA(0, nullptr, 1, &type, nullptr, &size); }, NTE_BAD_FLAGS },
        { [&] { return CryptGetUserKey(provider, AT_SIGNATURE, &newKey); }, NTE_NO_KEY },
        { [&] { return CryptGetUserKey(provider, 3, &newKey); }, NTE_BAD_KEY },
        { [&] { return importKey(provider, truncated, 0) ? TRUE : FALSE; }, NTE_BAD_DATA },
        { [&] { return importKey(provider, badVersion, 0) ? TRUE : FALSE; }, NTE_BAD_VER },
        { [&] { return importKey(provider, badMagic, 0) ? TRUE : FALSE; }, NTE_BAD_DATA },
        // Key pairs only: a public key alone is not taken in.
        { [&] { return importKey(provider, msBlob(testKey(), false), 0) ? TRUE : FALSE; }, NTE_BAD_TYPE },
        { [&] { return CryptExportKey(noKey, 0, PUBLICKEYBLOB, 0, nullptr, &size); }, NTE_BAD_KEY },
        // The private half never leaves the provider.
        { [&] { return CryptExportKey(key.get(), 0, PRIVATEKEYBLOB, 0, nullptr, &size); }, NTE_BAD_TYPE },
        { [&] { return importKey(provider, blob, CRYPT_EXPORTABLE) ? TRUE : FALSE; }, NTE_BAD_FLAGS },
        // Windows' software providers keep no certificates with their keys.
        { [&] { return CryptSetKeyParam(key.get(), KP_CERTIFICATE, certificate.data(), 0); }, NTE_BAD_TYPE },
        { [&] { return CryptDestroyKey(noKey); }, NTE_BAD_KEY },
        { [&] { return CryptCreateHash(provider, CALG_RSA_SIGN, 0, 0, &newHash); }, NTE_BAD_ALGID },
        { [&] { return CryptSignHashA(noHash, AT_KEYEXCHANGE, nullptr, 0, nullptr, &size); }, NTE_BAD_HASH },
        { [&] { return CryptSignHashA(hash.get(), AT_SIGNATURE, nullptr, 0, nullptr, &size); }, NTE_NO_KEY },
        { [&] { return CryptSignHashA(hash.get(), 3, nullptr, 0, nullptr, &size); }, NTE_BAD_ALGID },
        { [&] { return CryptSignHashA(hash.get(), AT_KEYEXCHANGE, nullptr, CRYPT_NOHASHOID, nullptr, &size); },
            NTE_BAD_FLAGS },
        { [&] { return CryptGetHashParam(hash.get(), HP_ALGID, nullptr, &size, 0); }, NTE_BAD_TYPE },
        { [&] { return CryptDestroyHash(noHash); }, NTE_BAD_HASH },
    };
    ASSERT_TRUE(key);
    expectRefusals(refusals);

    const DWORD nameSize = static_cast<DWORD>(std::strlen(kAes) + 1);
    expectSizeProtocol({
        { [&](BYTE* out, DWORD* size) {
             return CryptEnumProvidersA(7, nullptr, 0, &type, reinterpret_cast<char*>(out), size);
         },
            nameSize },
        { [&](BYTE* out, DWORD* size) { return CryptGetProvParam(provider, PP_NAME, out, size, 0); }, nameSize },
        { [&](BYTE* out, DWORD* size) { return CryptExportKey(key.get(), 0, PUBLICKEYBLOB, 0, out, size); }, 148 },
        { [&](BYTE* out, DWORD* size) { return CryptSignHashA(hash.get(), AT_KEYEXCHANGE, nullptr, 0, out, size); },
            128 },
    });
    // Signing finished the hash.
    expectRefusals({ { [&] { return CryptHashData(hash.get(), reinterpret_cast<const BYTE*>("z"), 1, 0); },
        NTE_BAD_HASH_STATE } });
}

TEST_F(Advapi32, ContainersLiveApartByProviderFamilyInOwnerOnlyFiles)
{
    machine_.installProviders("1 " MS_ENHANCED_PROV_A "\n24 " MS_ENH_RSA_AES_PROV_A "\n1 " + std::string(kCard));
    // The RSA software providers share their containers; card providers keep their own.
    ASSERT_TRUE(opens("shared", MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    EXPECT_TRUE(opens("shared", kAes, PROV_RSA_AES, 0));
    EXPECT_FALSE(opens("shared", kCard, PROV_RSA_FULL, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_KEYSET));
    Context card = acquire("shared", kCard, PROV_RSA_FULL, CRYPT_NEWKEYSET);
    Key key = importKey(card.get(), msBlob(testKey(), true), 0);
    const Bytes certificate = makeCertificate(1);
    ASSERT_TRUE(CryptSetKeyParam(key.get(), KP_CERTIFICATE, certificate.data(), 0));
    const std::string crypto = machine_.root() + "/crypto", user = crypto + "/user";
    const std::string container = user + "/csp-eToken%20Base%20Cryptographic%20Provider/shared";
    const std::pair<std::string, mode_t> modes[] = { { crypto, 0700 }, { user, 0700 }, { container, 0700 },
        { container + "/exchange.key", 0600 }, { container + "/exchange.cer", 0600 } };
    for (const auto& [path, mode] : modes)
        EXPECT_EQ(modeOf(path), mode) << path;

    // No name is the user's default container, and so is the empty name.
    Context created = acquire(nullptr, kAes, PROV_RSA_AES, CRYPT_NEWKEYSET);
    EXPECT_NE(textParam(created.get(), PP_CONTAINER), "");
    EXPECT_EQ(
        textParam(acquire("", kAes, PROV_RSA_AES, 0).get(), PP_CONTAINER), textParam(created.get(), PP_CONTAINER));
}

TEST_F(Advapi32, ContainerEnumerationReadsByteStringNamesOneBufferAtATime)
{
    // Then UTF-8, a slash, a dot, a byte that is not UTF-8, the longest name that fits.
    std::vector<std::string> names
        = { "a", "bb-longer-name", "Certificação Ação", "dir/name", ".hidden", "raw\xff\x01", std::string(85, '\xe9') };
    for (std::size_t i = 0; i < 2; ++i)
        ASSERT_TRUE(opens(names[i].c_str(), kAes, PROV_RSA_AES, CRYPT_NEWKEYSET));
    Context context = acquire(nullptr, kAes, PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
    DWORD size = 0;
    std::string name;
    ASSERT_TRUE(nextContainer(context.get(), CRYPT_FIRST, size = 1000, name));
    EXPECT_EQ(name + std::to_string(size), "a2");
    // The length left over from the short name is too small for the next one,
    // and the position waits until the caller offers the whole buffer.
    EXPECT_FALSE(nextContainer(context.get(), CRYPT_NEXT, size, name));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(size, 15u);
    ASSERT_TRUE(nextContainer(context.get(), CRYPT_NEXT, size = 1000, name));
    EXPECT_EQ(name, "bb-longer-name");

    for (std::size_t i = 2; i < names.size(); ++i)
        EXPECT_TRUE(opens(names[i].c_str(), kAes, PROV_RSA_AES, CRYPT_NEWKEYSET)) << names[i];
    std::vector<std::string> listed;
    for (DWORD flags = CRYPT_FIRST; nextContainer(context.get(), flags, size = 1000, name); flags = CRYPT_NEXT)
        listed.push_back(name);
    std::sort(listed.begin(), listed.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(listed, names);
}

TEST_F(Advapi32, WriterKilledAtAnyMomentLeavesAWholeKey)
{
    Pkey other = generateRsa(1024);
    const Bytes blobs[] = { msBlob(testKey(), true), msBlob(other.get(), true) };
    Context context = acquire("rewritten", kAes, PROV_RSA_AES, CRYPT_NEWKEYSET);
    unsigned written = 0;
    const auto rewrite = [&] { importKey(context.get(), blobs[written++ % 2], 0); };
    for (int round = 0; round < 5; ++round) {
        // Killed once it is writing, a little later each round: what it left
        // beside the key files is passed over.
        killWhileWriting(rewrite, std::chrono::milliseconds(3 + 7 * round));
        Context reader = acquire("rewritten", kAes, PROV_RSA_AES, 0);
        Key key;
        ASSERT_TRUE(CryptGetUserKey(reader.get(), AT_KEYEXCHANGE, key.out())) << std::hex << GetLastError();
        DWORD size = 0;
        ASSERT_TRUE(CryptExportKey(key.get(), 0, PUBLICKEYBLOB, 0, nullptr, &size));
        Bytes publicBlob(size);
        ASSERT_TRUE(CryptExportKey(key.get(), 0, PUBLICKEYBLOB, 0, publicBlob.data(), &size));
        EXPECT_TRUE(publicBlob == msBlob(testKey(), false) || publicBlob == msBlob(other.get(), false));
    }
}

} // namespace
} // namespace standin
