// The advapi32 stand-in called directly, for what no request of sigbrid
// reaches: Windows' own provider list, the containers that the RSA software
// providers share, names that only other software makes, owner-only files,
// and key state that survives a killed writer.
#include "StandInSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace standin {
namespace {

constexpr const char* kAes = MS_ENH_RSA_AES_PROV_A;
constexpr const char* kCard = "eToken Base Cryptographic Provider";

class Advapi32 : public ::testing::Test {
protected:
    // Writes the machine's provider list, one "<type> <name>" a line.
    void installProviders(const std::string& lines) { std::ofstream(machine_.path() + "/providers") << lines; }
    Machine machine_;
};

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

TEST_F(Advapi32, ProvidersAreWindowsOwnUntilTheMachineListsItsOwn)
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
    installProviders(
        "# test machine\n1 eToken Base Cryptographic Provider\n\n24 " MS_ENH_RSA_AES_PROV_A "\r\nnot a line\n");
    EXPECT_EQ(enumerateProviders(), (std::vector<std::pair<std::string, DWORD>> { { kCard, 1 }, { kAes, 24 } }));
}

TEST_F(Advapi32, ContainersLiveApartByProviderFamilyInOwnerOnlyFiles)
{
    installProviders("1 " MS_ENHANCED_PROV_A "\n24 " MS_ENH_RSA_AES_PROV_A "\n1 " + std::string(kCard));
    // The RSA software providers share their containers; card providers keep their own.
    ASSERT_TRUE(acquire("shared", MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    ProviderContext software = acquire("shared", kAes, PROV_RSA_AES, 0);
    ASSERT_TRUE(software);
    EXPECT_FALSE(acquire("shared", kCard, PROV_RSA_FULL, 0));
    // Windows' software providers keep no certificates with their keys.
    KeyObject key = importKey(software.get(), keyBlob(), 0);
    EXPECT_FALSE(CryptSetKeyParam(key.get(), KP_CERTIFICATE, makeCertificate(1).data(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_TYPE));
    const std::string crypto = machine_.path() + "/crypto", container = crypto + "/user/rsa/shared";
    const std::pair<std::string, mode_t> modes[]
        = { { crypto, 0700 }, { container, 0700 }, { container + "/exchange.key", 0600 } };
    for (const auto& [path, mode] : modes)
        EXPECT_EQ(modeOf(path), mode) << path;
}

TEST_F(Advapi32, ContainerNamesAreByteStrings)
{
    // A slash, a dot, a byte that is not UTF-8, and the longest name that
    // fits: each non-ASCII byte takes three characters of the file name.
    std::vector<std::string> names = { "dir/name", ".hidden", "raw\xff\x01", std::string(85, '\xe9') };
    for (const std::string& name : names)
        EXPECT_TRUE(acquire(name.c_str(), kAes, PROV_RSA_AES, CRYPT_NEWKEYSET)) << name;
    EXPECT_FALSE(acquire(std::string(86, '\xe9').c_str(), kAes, PROV_RSA_AES, CRYPT_NEWKEYSET));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_KEYSET_PARAM));
    ProviderContext context = acquire(nullptr, kAes, PROV_RSA_AES, CRYPT_VERIFYCONTEXT);
    std::vector<std::string> listed;
    char name[1000];
    for (DWORD flags = CRYPT_FIRST, size = sizeof name;
         CryptGetProvParam(context.get(), PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, flags);
         flags = CRYPT_NEXT, size = sizeof name)
        listed.emplace_back(name);
    std::sort(listed.begin(), listed.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(listed, names);
}

TEST_F(Advapi32, WriterKilledAtAnyMomentLeavesAWholeKey)
{
    const Pkey other = newRsaKey(2048);
    const std::string blobs[] = { keyBlob(), keyBlob(other.get()) };
    ProviderContext context = acquire("rewritten", kAes, PROV_RSA_AES, CRYPT_NEWKEYSET);
    unsigned written = 0;
    const auto rewrite = [&] { importKey(context.get(), blobs[written++ % 2], 0); };
    for (int round = 0; round < 5; ++round) {
        // Killed once it is writing, a little later each round: what it left
        // beside the key files is passed over.
        killWhileWriting(rewrite, std::chrono::milliseconds(3 + 7 * round));
        ProviderContext reader = acquire("rewritten", kAes, PROV_RSA_AES, 0);
        HCRYPTKEY rawKey = 0;
        ASSERT_TRUE(CryptGetUserKey(reader.get(), AT_KEYEXCHANGE, &rawKey)) << std::hex << GetLastError();
        const KeyObject key(rawKey);
        DWORD size = 276;
        std::string publicBlob(size, '\0');
        ASSERT_TRUE(CryptExportKey(key.get(), 0, PUBLICKEYBLOB, 0, reinterpret_cast<BYTE*>(&publicBlob[0]), &size));
        EXPECT_TRUE(publicBlob == keyBlob(suiteKey(), false) || publicBlob == keyBlob(other.get(), false));
    }
}

} // namespace
} // namespace standin
