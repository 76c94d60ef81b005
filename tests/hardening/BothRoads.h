// One emulated machine for both roads: CryptoAPI identities in the "MY"
// store, and a SoftHSM2 token with a key pair and a certificate behind the
// "AT" module path (and a copy of SoftHSM2 as "GD", whose certificate
// template SoftHSM2 refuses).
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "CapiMachine.h"
#include "SoftHsmMachine.h"

// Long enough that a piece of it cannot be found in memory by chance.
inline constexpr const char* kPin = "hardening-pin-Qz8wXv3kLm7pRt2y";
inline constexpr const char* kTokenKeyId = "K1";
inline constexpr const char* kTokenKeyIdHex = "4b31";

class BothRoads : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!softHsmAvailable())
            GTEST_SKIP() << "SoftHSM2, pkcs11-tool or openssl missing, or not the native build";
        const std::string system32 = capi_.environment().at("SIGBRID_WINROOT") + "/drive_c/Windows/System32";
        std::filesystem::create_directories(system32);
        std::filesystem::create_symlink(kSoftHsmModule, system32 + "/asepkcs.dll");
        // A copy: a module of its own, as a second vendor's DLL is on Windows.
        std::filesystem::copy_file(std::filesystem::canonical(kSoftHsmModule), system32 + "/aetpkss1.dll");
        serial_ = token_.initToken("Hardening", kPin);
        token_.keyPair("Hardening", kPin, kTokenKeyIdHex, "Signer");
        const std::string der = token_.makeCertificate("hardening");
        token_.writeCertificate("Hardening", kPin, der, kTokenKeyIdHex, "Signer");
        tokenThumbprint_ = SoftHsmMachine::fingerprint(der);
        tokenEnvironment_ = { { "SOFTHSM2_CONF", token_.environment().at("SOFTHSM2_CONF") } };
    }

    CapiMachine capi_;
    SoftHsmMachine token_;
    std::string serial_;
    std::string tokenThumbprint_;
    // Added to the CryptoAPI machine's environment: the token's directory.
    std::map<std::string, std::string> tokenEnvironment_;
};
