// The crypt32 stand-in called directly, for what no request of sigbrid
// reaches: owner-only store files, and a store that passes over what an
// interrupted write or a killed installer left.
#include "StandInSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

namespace standin {
namespace {

class Crypt32 : public ::testing::Test {
protected:
    Machine machine_;
};

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

TEST_F(Crypt32, StoreFilesArePrivateAndLeftoversOfInterruptedWritesAreIgnored)
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

TEST_F(Crypt32, InstallerKilledMidWayLeavesEveryListedEntryWhole)
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
