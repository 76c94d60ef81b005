// The hash algorithms that signing knows by name; every other name, the empty
// one included, signs with SHA-256.
#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <bcrypt.h>

#include <string>

struct SigningAlgorithm {
    const char* name;
    ALG_ID algId;
    DWORD digestLength;
    const char* createHashFailure;
    // The name by which CNG's padding information names the digest.
    LPCWSTR cngName;
};

const SigningAlgorithm& signingAlgorithm(const std::string& algorithmName);
