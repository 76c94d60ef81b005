// Host hashing through CryptoAPI, in a verify-only context of the provider
// type's default provider: at once, or as the data arrives. The PKCS#11 road
// hashes with it, and so does a request that reads its data in pieces.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "CryptHandles.h"
#include "Encoding.h"

// A digest made piece by piece; once a step fails, every later one answers
// false.
class DigestStream {
public:
    DigestStream(DWORD providerType, ALG_ID algorithm);

    bool add(const unsigned char* data, DWORD length);
    // The digest; false, and `digest` empty, when any step failed.
    bool finish(Bytes& digest);

private:
    // Declared in the reverse of their release: hash, context.
    ProviderContext context_;
    HashObject hash_;
    bool failed_ = false;
};

// Answers false, and leaves `digest` empty, when any CryptoAPI step fails.
bool computeDigest(DWORD providerType, ALG_ID algorithm, const unsigned char* data, DWORD length, Bytes& digest);

bool digestSha1(const unsigned char* data, DWORD length, Bytes& digest);
bool digestSha256(const unsigned char* data, DWORD length, Bytes& digest);
bool digestSha512(const unsigned char* data, DWORD length, Bytes& digest);
