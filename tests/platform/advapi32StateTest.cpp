// The emulated machine's state on disk as callers leave it: private files, and
// state that survives a writer killed in the middle (many callers at once:
// tests/hardening).
#include "advapi32TestSupport.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace advapi32test {
namespace {

mode_t modeOf(const std::string& path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? (status.st_mode & 07777) : 0;
}

using MachineStateTest = StandInTest;

TEST_F(MachineStateTest, KeysAreOwnerOnly)
{
    installProviders("1 eToken Base Cryptographic Provider\n");
    Context context = acquire("private", "eToken Base Cryptographic Provider", PROV_RSA_FULL, CRYPT_NEWKEYSET);
    Key key;
    ASSERT_TRUE(CryptGenKey(context.get(), AT_KEYEXCHANGE, 1024u << 16, key.out()));
    Pkey openssl = generateRsa(1024);
    const Bytes certificate = selfSignedCertificate(openssl.get(), "x");
    ASSERT_TRUE(CryptSetKeyParam(key.get(), KP_CERTIFICATE, certificate.data(), 0));

    const std::string store = root() + "/crypto/user/csp-eToken%20Base%20Cryptographic%20Provider";
    for (const std::string& directory : {root() + "/crypto", root() + "/crypto/user", store, store + "/private"})
        EXPECT_EQ(modeOf(directory), 0700u) << directory;
    EXPECT_EQ(modeOf(store + "/private/exchange.key"), 0600u);
    EXPECT_EQ(modeOf(store + "/private/exchange.cer"), 0600u);
}

TEST_F(MachineStateTest, LeftoverTemporaryFileOfAnInterruptedWriteIsIgnored)
{
    Bytes publicBlob;
    {
        Context context = containerWithKey("interrupted");
        Key key;
        ASSERT_TRUE(CryptGetUserKey(context.get(), AT_KEYEXCHANGE, key.out()));
        publicBlob = exportKey(key.get(), PUBLICKEYBLOB);
    }
    // What a writer killed before its rename leaves beside the real file.
    const std::string container = root() + "/crypto/user/rsa/interrupted";
    std::ofstream(container + "/.exchange.key.Ab12Cd") << "exportable: 1\n-----BEGIN PRIV";
    std::ofstream(root() + "/crypto/user/rsa/.removed-1-0") << "";

    Context reopened = acquire("interrupted", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, 0);
    Key key;
    ASSERT_TRUE(CryptGetUserKey(reopened.get(), AT_KEYEXCHANGE, key.out()));
    EXPECT_EQ(exportKey(key.get(), PUBLICKEYBLOB), publicBlob);
    char name[100];
    DWORD size = sizeof name;
    ASSERT_TRUE(
        CryptGetProvParam(reopened.get(), PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, CRYPT_FIRST));
    EXPECT_STREQ(name, "interrupted");
    size = sizeof name;
    EXPECT_FALSE(
        CryptGetProvParam(reopened.get(), PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &size, CRYPT_NEXT));
}

TEST_F(MachineStateTest, WriterKilledAtAnyMomentLeavesAWholeKey)
{
    Pkey first = generateRsa(1024);
    Pkey second = generateRsa(1024);
    const Bytes blobs[] = {msBlob(first.get(), true), msBlob(second.get(), true)};
    ASSERT_TRUE(containerWithKey("rewritten"));
    for (int round = 0; round < 5; ++round) {
        int started[2];
        ASSERT_EQ(pipe(started), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(started[0]);
            HCRYPTPROV context = 0;
            if (!CryptAcquireContextA(&context, "rewritten", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, 0))
                _exit(2);
            for (unsigned i = 0;; ++i) {
                HCRYPTKEY key = 0;
                const Bytes& blob = blobs[i % 2];
                CryptImportKey(context, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &key);
                CryptDestroyKey(key);
                if (i == 0)
                    (void)!write(started[1], "w", 1);
            }
        }
        close(started[1]);
        // Killed once it is writing, a little later each round.
        char signal;
        ASSERT_EQ(read(started[0], &signal, 1), 1) << "the writer could not start";
        close(started[0]);
        std::this_thread::sleep_for(std::chrono::milliseconds(3 + 7 * round));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        Context reader = acquire("rewritten", MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES, 0);
        Key key;
        ASSERT_TRUE(CryptGetUserKey(reader.get(), AT_KEYEXCHANGE, key.out())) << std::hex << lastError();
        const Bytes publicBlob = exportKey(key.get(), PUBLICKEYBLOB);
        EXPECT_TRUE(publicBlob == msBlob(first.get(), false) || publicBlob == msBlob(second.get(), false));
    }
}

}  // namespace
}  // namespace advapi32test
