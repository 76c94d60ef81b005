// What the crypt32 tests share: a private emulated machine per test,
// certificates made with OpenSSL, and owners for stores and contexts.
#pragma once

#include <string>
#include <vector>

#include <wincrypt.h>
#include <windows.h>

#include "TempDir.h"

using Bytes = std::vector<unsigned char>;

// Points SIGBRID_WINROOT at a fresh directory and clears the fault switch.
class MachineFixture {
public:
    MachineFixture();
    ~MachineFixture();
    const std::string& root() const { return dir_.path(); }

private:
    TempDir dir_;
};

// A self-signed certificate from OpenSSL, distinct for each serial.
Bytes makeCertificate(long serial, const std::string& commonName = "Test Certificate");

Bytes sha1Of(const Bytes& data);

class Store {
public:
    explicit Store(HCERTSTORE handle)
        : handle_(handle)
    {
    }
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;
    ~Store() { CertCloseStore(handle_, CERT_CLOSE_STORE_FORCE_FLAG); }
    HCERTSTORE get() const { return handle_; }

private:
    HCERTSTORE handle_;
};

class Context {
public:
    explicit Context(PCCERT_CONTEXT context = nullptr)
        : context_(context)
    {
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
    ~Context() { CertFreeCertificateContext(context_); }
    PCCERT_CONTEXT get() const { return context_; }
    // For calls that free the previous context themselves.
    PCCERT_CONTEXT release()
    {
        PCCERT_CONTEXT context = context_;
        context_ = nullptr;
        return context;
    }

private:
    PCCERT_CONTEXT context_;
};

HCERTSTORE openMyStore(DWORD extraFlags = 0);
