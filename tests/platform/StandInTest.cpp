// The advapi32 and crypt32 stand-ins called directly, for what no request of
// sigbrid reaches: the containers that the RSA
// software providers share, owner-only files, and keys and stores that pass
// over what an interrupted write or a killed writer left.
#include "StandInSupport.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <thread>

namespace standin {
namespace {

constexpr const char* kAes = MS_ENH_RSA_AES_PROV_A;
constexpr const char* kCard = "eToken Base Cryptographic Provider";

// CryptAcquireContextA and CryptImportKey; empty, with the last error, on failure.
ProviderContext acquire(const char* container, const char* provider, DWORD type, DWORD flags)
{
    HCRYPTPROV context = 0;
    CryptAcquireContextA(&context, container, provider, type, flags);
    return ProviderContext(context);
}

KeyObject importKey(HCRYPTPROV context, const std::string& blob, DWORD flags)
{
    HCRYPTKEY key = 0;
    CryptImportKey(
        context, reinterpret_cast<const BYTE*>(blob.data()), static_cast<DWORD>(blob.size()), 0, flags, &key);
    return KeyObject(key);
}

// A file's permission bits; 0 when it is missing.
mode_t modeOf(const std::string& path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? (status.st_mode & 07777) : 0;
}

// Runs `write` over and over in a child process, kills the child `after` its
// first write has ended, and checks that the kill is what ended it.
void killWhileWriting(const std::function<void()>& write, std::chrono::milliseconds after)
{
    int started[2];
    ASSERT_EQ(pipe(started), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        write();
        (void)!::write(started[1], "w", 1);
        for (;;)
            write();
    }
    close(started[1]);
    char signal;
    ASSERT_EQ(read(started[0], &signal, 1), 1) << "the writer could not start";
    close(started[0]);
    std::this_thread::sleep_for(after);
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
}

class StandIn : public ::testing::Test {
protected:
    // Writes the machine's provider list, one "<type> <name>" a line.
    void installProviders(const std::string& lines) { std::ofstream(machine_.path() + "/providers") << lines; }
    Machine machine_;
};

TEST_F(StandIn, ContainersLiveApartByProviderFamilyInOwnerOnlyFiles)
{
    installProviders("1 " MS_ENHANCED_PROV_A "\n24 " MS_ENH_RSA_AES_PROV_A "\n1 " + std::string(kCard));
    // A new container appears with its first key. The RSA software providers
    // share their containers; card providers keep their own.
    ProviderContext created = acquire("shared", MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET);
    ASSERT_TRUE(created);
    EXPECT_FALSE(acquire("shared", kAes, PROV_RSA_AES, 0));
    EXPECT_FALSE(acquire("shared", MS_ENHANCED_PROV_A, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    KeyObject key = importKey(created.get(), keyBlob(), 0);
    ProviderContext software = acquire("shared", kAes, PROV_RSA_AES, 0);
    ASSERT_TRUE(software);
    EXPECT_FALSE(acquire("shared", kCard, PROV_RSA_FULL, 0));
    // Windows' software providers keep no certificates with their keys.
    EXPECT_FALSE(CryptSetKeyParam(key.get(), KP_CERTIFICATE, makeCertificate(1).data(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_TYPE));
    const std::string crypto = machine_.path() + "/crypto", container = crypto + "/user/rsa/shared";
    const std::pair<std::string, mode_t> modes[]
        = { { crypto, 0700 }, { container, 0700 }, { container + "/exchange.key", 0600 } };
    for (const auto& [path, mode] : modes)
        EXPECT_EQ(modeOf(path), mode) << path;
}

TEST_F(StandIn, WriterKilledAtAnyMomentLeavesAWholeKey)
{
    const Pkey other = newRsaKey(2048);
    const std::string blobs[] = { keyBlob(), keyBlob(other.get()) };
    ProviderContext context = acquire("rewritten", kAes, PROV_RSA_AES, CRYPT_NEWKEYSET);
    unsigned written = 0;
    const auto rewrite = [&] { importKey(context.get(), blobs[written++ % 2], 0); };
    rewrite();
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

CertificateContext decode(const Bytes& der)
{
    return CertificateContext(
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())));
}

// The installation the product performs: ADD_ALWAYS, then the key link.
void install(const Bytes& der, const wchar_t* container)
{
    CRYPT_KEY_PROV_INFO info { const_cast<LPWSTR>(container),
        const_cast<LPWSTR>(L"Microsoft Enhanced RSA and AES Cryptographic Provider"), PROV_RSA_AES, 0, 0, nullptr,
        AT_KEYEXCHANGE };
    CertificateStore store(openMyStore());
    PCCERT_CONTEXT added = nullptr;
    ASSERT_TRUE(CertAddCertificateContextToStore(store.get(), decode(der).get(), CERT_STORE_ADD_ALWAYS, &added));
    const CertificateContext stored(added);
    ASSERT_TRUE(CertSetCertificateContextProperty(stored.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
}

// The container of each entry's key link, newest first; "<none>" where an entry has none.
std::vector<std::wstring> keyLinks(HCERTSTORE store)
{
    std::vector<std::wstring> links;
    for (PCCERT_CONTEXT context = CertEnumCertificatesInStore(store, nullptr); context;
         context = CertEnumCertificatesInStore(store, context)) {
        EXPECT_NE(context->pCertInfo, nullptr);
        DWORD size = 0;
        const DWORD property = CERT_KEY_PROV_INFO_PROP_ID;
        Bytes link(CertGetCertificateContextProperty(context, property, nullptr, &size) ? size : 0);
        const bool linked = !link.empty() && CertGetCertificateContextProperty(context, property, link.data(), &size);
        links.push_back(
            linked ? reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(link.data())->pwszContainerName : L"<none>");
    }
    return links;
}

TEST_F(StandIn, StoreFilesArePrivateAndLeftoversOfInterruptedWritesAreIgnored)
{
    const Bytes der = makeCertificate(7007);
    install(der, L"private");
    const std::string directory = machine_.path() + "/certstores/CurrentUser/MY";
    const std::pair<std::string, mode_t> modes[] = { { directory, 0700 },
        { directory + "/00000001/certificate.cer", 0600 }, { directory + "/00000001/properties", 0600 } };
    for (const auto& [path, mode] : modes)
        EXPECT_EQ(modeOf(path), mode) << path;
    // What a killed process may leave: an entry without its certificate, a
    // half-written temporary file, a damaged properties file.
    ASSERT_EQ(mkdir((directory + "/00000002").c_str(), 0700), 0);
    std::ofstream(directory + "/00000001/.properties.tmp") << "partial";
    std::ofstream(directory + "/00000001/properties", std::ios::app) << "\x02\x00";
    CertificateStore store(openMyStore());
    EXPECT_EQ(keyLinks(store.get()), std::vector<std::wstring> { L"private" });
    // A second copy, without a key link, steps over the leftover's number and
    // comes first.
    ASSERT_TRUE(CertAddCertificateContextToStore(store.get(), decode(der).get(), CERT_STORE_ADD_ALWAYS, nullptr));
    EXPECT_EQ(keyLinks(CertificateStore(openMyStore()).get()), (std::vector<std::wstring> { L"<none>", L"private" }));
    EXPECT_EQ(modeOf(directory + "/00000003/certificate.cer"), 0600);
}

TEST_F(StandIn, InstallerKilledMidWayLeavesEveryListedEntryWhole)
{
    long serial = 20000;
    killWhileWriting([&] { install(makeCertificate(serial++), L"killed"); }, std::chrono::milliseconds(300));
    const std::vector<std::wstring> links = keyLinks(CertificateStore(openMyStore()).get());
    ASSERT_FALSE(links.empty());
    // The newest entry may have lost its key link to the kill, never its certificate.
    for (std::size_t i = 0; i < links.size(); ++i)
        EXPECT_TRUE(links[i] == L"killed" || (i == 0 && links[i] == L"<none>")) << i;
}

} // namespace
} // namespace standin
