// One emulated machine for both roads: CryptoAPI identities in the "MY"
// store, and a SoftHSM2 token with a key pair and a certificate behind the
// "AT" module path (and a copy of SoftHSM2 as "GD", whose certificate
// template SoftHSM2 refuses).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "SoftHsmMachine.h"

// Long enough that a piece of it cannot be found in memory by chance.
inline constexpr const char* kPin = "hardening-pin-Qz8wXv3kLm7pRt2y";

class BothRoads : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!softHsmAvailable())
            GTEST_SKIP() << "SoftHSM2 or openssl missing, or not the native build";
        machine_.link(R"(C:\Windows\System32\asepkcs.dll)", kSoftHsmModule);
        // A copy: a module of its own, as a second vendor's DLL is on Windows.
        machine_.copy(R"(C:\Windows\System32\aetpkss1.dll)", kSoftHsmModule);
        serial_ = machine_.initToken("Hardening", kPin);
        keyId_ = machine_.success({ "pkcs11", "repo", "createKeyPair", "AT", serial_, "Signer", "2048", kPin });
        const std::string der = selfSignedCertificate(1, "hardening");
        machine_.success({ "pkcs11", "repo", "importCertificate", "AT", serial_, keyId_, "Signer", kPin, base64(der) });
        tokenThumbprint_ = sha1Hex(der);
    }

    SoftHsmMachine machine_;
    std::string serial_;
    std::string keyId_;
    std::string tokenThumbprint_;
};
