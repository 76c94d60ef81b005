#include "StandInSupport.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include <gtest/gtest.h>

namespace standin {

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

Bytes makeCertificate(long serial, const std::string& commonName)
{
    const std::string der = selfSignedCertificate(serial, commonName);
    return Bytes(der.begin(), der.end());
}

HCERTSTORE openMyStore() { return CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY"); }

mode_t modeOf(const std::string& path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 ? (status.st_mode & 07777) : 0;
}

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

} // namespace standin
