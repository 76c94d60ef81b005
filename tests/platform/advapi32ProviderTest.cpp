// Providers, contexts and container enumeration of the advapi32 stand-in,
// called as the product calls them.
#include "advapi32TestSupport.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <utility>

namespace advapi32test {
namespace {

using Provider = std::pair<std::string, DWORD>;

std::vector<Provider> enumerateProviders()
{
    std::vector<Provider> providers;
    for (DWORD index = 0;; ++index) {
        DWORD type = 0;
        DWORD size = 0;
        if (!CryptEnumProvidersA(index, nullptr, 0, &type, nullptr, &size))
            break;
        std::string name(size, '\0');
        if (!CryptEnumProvidersA(index, nullptr, 0, &type, name.data(), &size))
            break;
        name.resize(size - 1);
        providers.emplace_back(name, type);
    }
    return providers;
}

// PP_ENUMCONTAINERS the way a careful caller reads it: one buffer, its length
// reset before every call.
std::vector<std::string> enumerateContainers(HCRYPTPROV context)
{
    std::vector<std::string> names;
    char buffer[1000];
    for (DWORD flags = CRYPT_FIRST;; flags = CRYPT_NEXT) {
        DWORD size = sizeof buffer;
        if (!CryptGetProvParam(context, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(buffer), &size, flags))
            break;
        names.emplace_back(buffer);
    }
    return names;
}

using ProviderTest = StandInTest;

TEST_F(ProviderTest, DefaultMachineListsWindowsSoftwareProvidersInWindowsOrder)
{
    const std::vector<Provider> expected = {
        {"Microsoft Base Cryptographic Provider v1.0", 1},
        {"Microsoft Base DSS and Diffie-Hellman Cryptographic Provider", 13},
        {"Microsoft Base DSS Cryptographic Provider", 3},
        {"Microsoft Base Smart Card Crypto Provider", 1},
        {"Microsoft DH SChannel Cryptographic Provider", 18},
        {"Microsoft Enhanced Cryptographic Provider v1.0", 1},
        {"Microsoft Enhanced DSS and Diffie-Hellman Cryptographic Provider", 13},
        {"Microsoft Enhanced RSA and AES Cryptographic Provider", 24},
        {"Microsoft RSA SChannel Cryptographic Provider", 12},
        {"Microsoft Strong Cryptographic Provider", 1},
    };
    EXPECT_EQ(enumerateProviders(), expected);
    DWORD type = 0;
    DWORD size = 0;
    EXPECT_FALSE(CryptEnumProvidersA(static_cast<DWORD>(expected.size()), nullptr, 0, &type, nullptr, &size));
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
}

TEST_F(ProviderTest, ProviderNameSizeQueryAndShortBuffer)
{
    DWORD type = 0;
    DWORD size = 0;
    ASSERT_TRUE(CryptEnumProvidersA(7, nullptr, 0, &type, nullptr, &size));
    EXPECT_EQ(size, std::strlen(MS_ENH_RSA_AES_PROV_A) + 1);
    EXPECT_EQ(type, static_cast<DWORD>(PROV_RSA_AES));
    char shortBuffer[10] = {};
    DWORD shortSize = sizeof shortBuffer;
    EXPECT_FALSE(CryptEnumProvidersA(7, nullptr, 0, &type, shortBuffer, &shortSize));
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(shortSize, size);
}

TEST_F(ProviderTest, ProvidersFileReplacesTheDefaults)
{
    installProviders("# test machine\n1 eToken Base Cryptographic Provider\n\n24 " MS_ENH_RSA_AES_PROV_A "\r\n"
                     "not a line\n");
    const std::vector<Provider> expected = {{"eToken Base Cryptographic Provider", 1}, {MS_ENH_RSA_AES_PROV_A, 24}};
    EXPECT_EQ(enumerateProviders(), expected);
    EXPECT_FALSE(acquire(nullptr, MS_STRONG_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_KEYSET_NOT_DEF));
    // The only type-1 provider left becomes the type's default.
    Context context = acquire(nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
    ASSERT_TRUE(context);
    EXPECT_EQ(textParam(context.get(), PP_NAME), "eToken Base Cryptographic Provider");
}

TEST_F(ProviderTest, NullProviderNameOpensTheTypesDefault)
{
    const std::pair<DWORD, std::string> defaults[] = {
        {PROV_RSA_FULL, MS_STRONG_PROV_A},
        {PROV_RSA_AES, MS_ENH_RSA_AES_PROV_A},
        {PROV_RSA_SCHANNEL, MS_DEF_RSA_SCHANNEL_PROV_A},
    };
    for (const auto& [type, name] : defaults) {
        Context context = acquire(nullptr, nullptr, type, CRYPT_VERIFYCONTEXT);
        ASSERT_TRUE(context) << type;
        EXPECT_EQ(textParam(context.get(), PP_NAME), name);
        EXPECT_EQ(textParam(context.get(), PP_CONTAINER), "");
    }
    EXPECT_TRUE(acquire(nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET));
    EXPECT_FALSE(acquire(nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_DELETEKEYSET));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_BAD_FLAGS));
    EXPECT_FALSE(acquire(nullptr, nullptr, PROV_RSA_SIG, CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_PROV_TYPE_NOT_DEF));
}

TEST_F(ProviderTest, AcquisitionFailuresCarryWindowsCodes)
{
    struct Case {
        const char* container;
        const char* provider;
        DWORD type;
        DWORD flags;
        LONG error;
    };
    const Case cases[] = {
        {"absent", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, 0, NTE_BAD_KEYSET},
        {"absent", "No Such Provider", PROV_RSA_FULL, 0, NTE_KEYSET_NOT_DEF},
        {nullptr, "microsoft enhanced rsa and aes cryptographic provider", PROV_RSA_AES, CRYPT_VERIFYCONTEXT,
         NTE_KEYSET_NOT_DEF},
        {nullptr, MS_ENH_RSA_AES_PROV_A, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT, NTE_PROV_TYPE_NO_MATCH},
        {nullptr, MS_ENH_RSA_AES_PROV_A, 0, CRYPT_VERIFYCONTEXT, NTE_BAD_PROV_TYPE},
        {"named", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_VERIFYCONTEXT, NTE_BAD_FLAGS},
        {"absent", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, 0x4, NTE_BAD_FLAGS},
        {"absent", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET, NTE_BAD_FLAGS},
        {"absent", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_DELETEKEYSET, NTE_BAD_KEYSET},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(acquire(c.container, c.provider, c.type, c.flags)) << c.provider << " " << c.flags;
        EXPECT_EQ(lastError(), static_cast<DWORD>(c.error)) << c.provider << " " << c.flags;
    }
    EXPECT_FALSE(CryptAcquireContextA(nullptr, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(ProviderTest, ContainerLifecycle)
{
    EXPECT_TRUE(acquire("life", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET));
    EXPECT_FALSE(acquire("life", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_EXISTS));
    Context opened = acquire("life", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, 0);
    ASSERT_TRUE(opened);
    EXPECT_EQ(textParam(opened.get(), PP_CONTAINER), "life");
    EXPECT_EQ(textParam(opened.get(), PP_NAME), MS_ENH_RSA_AES_PROV_A);

    HCRYPTPROV deleted = 1;
    EXPECT_TRUE(CryptAcquireContextA(&deleted, "life", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_DELETEKEYSET));
    EXPECT_EQ(deleted, 0u);
    EXPECT_FALSE(acquire("life", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, 0));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_BAD_KEYSET));
    EXPECT_TRUE(acquire("life", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET));
}

TEST_F(ProviderTest, RsaSoftwareProvidersShareTheirContainersOthersKeepTheirOwn)
{
    installProviders("1 " MS_ENHANCED_PROV_A "\n24 " MS_ENH_RSA_AES_PROV_A "\n1 " MS_SCARD_PROV_A
                     "\n1 eToken Base Cryptographic Provider\n");
    ASSERT_TRUE(acquire("shared", MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    EXPECT_TRUE(acquire("shared", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, 0));
    EXPECT_FALSE(acquire("shared", MS_SCARD_PROV_A, PROV_RSA_FULL, 0));
    EXPECT_FALSE(acquire("shared", "eToken Base Cryptographic Provider", PROV_RSA_FULL, 0));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_BAD_KEYSET));
    EXPECT_TRUE(acquire("shared", "eToken Base Cryptographic Provider", PROV_RSA_FULL, CRYPT_NEWKEYSET));
}

TEST_F(ProviderTest, MachineKeySetsAreApartFromTheUsers)
{
    ASSERT_TRUE(acquire("scoped", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET | CRYPT_MACHINE_KEYSET));
    EXPECT_FALSE(acquire("scoped", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, 0));
    EXPECT_TRUE(acquire("scoped", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_MACHINE_KEYSET));
}

TEST_F(ProviderTest, EmptyContainerNameIsTheUsersDefaultContainer)
{
    Context created = acquire(nullptr, MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET);
    ASSERT_TRUE(created);
    const std::string name = textParam(created.get(), PP_CONTAINER);
    EXPECT_FALSE(name.empty());
    Context byEmptyName = acquire("", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, 0);
    ASSERT_TRUE(byEmptyName);
    EXPECT_EQ(textParam(byEmptyName.get(), PP_CONTAINER), name);
}

TEST_F(ProviderTest, ForeignHandlesAndUnknownParametersCarryWindowsCodes)
{
    Context context = acquire(nullptr, MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
    const HCRYPTPROV provider = context.get();
    // Handles that were never handed out, one of each kind.
    const HCRYPTPROV noProvider = 0x1234;
    const HCRYPTKEY noKey = 0x4321;
    const HCRYPTHASH noHash = 0x999;
    DWORD size = 0;
    DWORD type = 0;
    DWORD reserved = 0;
    HCRYPTKEY key = 0;
    HCRYPTHASH hash = 0;
    const std::pair<std::function<BOOL()>, LONG> refusals[] = {
        {[&] { return CryptReleaseContext(noProvider, 0); }, NTE_BAD_UID},
        {[&] { return CryptGetProvParam(noProvider, PP_NAME, nullptr, &size, 0); }, NTE_BAD_UID},
        {[&] { return CryptGetProvParam(provider, 0x7777, nullptr, &size, 0); }, NTE_BAD_TYPE},
        {[&] { return CryptGetProvParam(provider, PP_NAME, nullptr, &size, CRYPT_FIRST); }, NTE_BAD_FLAGS},
        {[&] { return CryptEnumProvidersA(0, &reserved, 0, &type, nullptr, &size); }, ERROR_INVALID_PARAMETER},
        {[&] { return CryptEnumProvidersA(0, nullptr, 1, &type, nullptr, &size); }, NTE_BAD_FLAGS},
        {[&] { return CryptGetUserKey(noProvider, AT_KEYEXCHANGE, &key); }, NTE_BAD_UID},
        {[&] { return CryptExportKey(noKey, 0, PUBLICKEYBLOB, 0, nullptr, &size); }, NTE_BAD_KEY},
        {[&] { return CryptGetKeyParam(noKey, KP_KEYLEN, nullptr, &size, 0); }, NTE_BAD_KEY},
        {[&] { return CryptDestroyKey(noKey); }, NTE_BAD_KEY},
        {[&] { return CryptCreateHash(noProvider, CALG_SHA1, 0, 0, &hash); }, NTE_BAD_UID},
        {[&] { return CryptCreateHash(provider, CALG_RSA_SIGN, 0, 0, &hash); }, NTE_BAD_ALGID},
        {[&] { return CryptSignHashA(noHash, AT_KEYEXCHANGE, nullptr, 0, nullptr, &size); }, NTE_BAD_HASH},
        {[&] { return CryptDestroyHash(noHash); }, NTE_BAD_HASH},
    };
    for (std::size_t i = 0; i < std::size(refusals); ++i) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(refusals[i].first()) << "case " << i;
        EXPECT_EQ(lastError(), static_cast<DWORD>(refusals[i].second)) << "case " << i;
    }

    char shortBuffer[4];
    size = sizeof shortBuffer;
    EXPECT_FALSE(CryptGetProvParam(provider, PP_NAME, reinterpret_cast<BYTE*>(shortBuffer), &size, 0));
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(size, std::strlen(MS_ENH_RSA_AES_PROV_A) + 1);
}

using EnumerationTest = StandInTest;

TEST_F(EnumerationTest, ShortBufferKeepsThePositionUntilTheCallerResetsTheLength)
{
    for (const char* name : {"a", "bb-longer-name"})
        ASSERT_TRUE(acquire(name, MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET));
    Context context = acquire(nullptr, MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
    char buffer[1000];
    DWORD size = sizeof buffer;
    ASSERT_TRUE(
        CryptGetProvParam(context.get(), PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(buffer), &size, CRYPT_FIRST));
    EXPECT_STREQ(buffer, "a");
    EXPECT_EQ(size, 2u);
    // The length left over from the short name is too small for the next one.
    EXPECT_FALSE(
        CryptGetProvParam(context.get(), PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(buffer), &size, CRYPT_NEXT));
    EXPECT_EQ(lastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(size, std::strlen("bb-longer-name") + 1);
    size = sizeof buffer;
    ASSERT_TRUE(
        CryptGetProvParam(context.get(), PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(buffer), &size, CRYPT_NEXT));
    EXPECT_STREQ(buffer, "bb-longer-name");
}

TEST_F(EnumerationTest, SizeQueryAnswersTheLongestNameWithoutMoving)
{
    for (const char* name : {"x", "yyyyyyyy", "zz"})
        ASSERT_TRUE(acquire(name, MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET));
    Context context = acquire(nullptr, MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
    DWORD size = 0;
    ASSERT_TRUE(CryptGetProvParam(context.get(), PP_ENUMCONTAINERS, nullptr, &size, CRYPT_FIRST));
    EXPECT_EQ(size, 9u);
    std::string buffer(size, '\0');
    ASSERT_TRUE(
        CryptGetProvParam(context.get(), PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(buffer.data()), &size, CRYPT_NEXT));
    EXPECT_STREQ(buffer.c_str(), "x");
}

TEST_F(EnumerationTest, NamesAreByteStrings)
{
    // UTF-8, a slash, a dot and a byte that is not UTF-8 at all.
    const std::vector<std::string> names = {"Certificação Ação", "dir/name", ".hidden", "raw\xff\x01"};
    for (const auto& name : names) {
        Context created = acquire(name.c_str(), MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET);
        ASSERT_TRUE(created) << name;
        EXPECT_EQ(textParam(created.get(), PP_CONTAINER), name);
    }
    for (const auto& name : names)
        EXPECT_TRUE(acquire(name.c_str(), MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, 0)) << name;
    Context context = acquire(nullptr, MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
    auto listed = enumerateContainers(context.get());
    auto expected = names;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);
}

TEST_F(EnumerationTest, NamesBeyondTheFileNameLimitAreRefused)
{
    // Each non-ASCII byte takes three characters of the file name.
    const std::string fits(85, '\xe9');
    const std::string tooLong(86, '\xe9');
    EXPECT_TRUE(acquire(fits.c_str(), MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET));
    EXPECT_FALSE(acquire(tooLong.c_str(), MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, CRYPT_NEWKEYSET));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_BAD_KEYSET_PARAM));
    EXPECT_FALSE(acquire(tooLong.c_str(), MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, 0));
    EXPECT_EQ(lastError(), static_cast<DWORD>(NTE_BAD_KEYSET));
}

}  // namespace
}  // namespace advapi32test
